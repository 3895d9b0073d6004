#pragma once

#include "workerthread.h"

#include <string>

struct pa_simple;

// Plays silence with a click (a 5 ms tone burst at half of full scale) every period into a
// sink, from a thread of its own. A period that is not a whole number of 10 ms frames walks
// the clicks across the frame grid of whoever captures them.
class ClickPlayer
{
public:
    ~ClickPlayer();

    bool start(const std::string &sink, double periodMs);
    void stop();

private:
    void run();

    pa_simple *connection = nullptr;
    std::size_t periodFrames = 0;
    WorkerThread worker;
};
