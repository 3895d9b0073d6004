#pragma once

#include "onsetdetector.h"

#include <atomic>
#include <string>
#include <thread>

struct pa_simple;

// Records a source (a sink's monitor) in 1 ms blocks on a thread of its own and finds the
// clicks in it. Small blocks keep the time stamp of each block within about a millisecond
// of the moment the sound server made it available.
class MonitorRecorder
{
public:
    explicit MonitorRecorder(double threshold);
    ~MonitorRecorder();

    bool start(const std::string &source);
    void stop();
    // Read after stop.
    const std::vector<BenchClock::time_point> &onsets() const { return detector.onsets(); }

private:
    void run();

    OnsetDetector detector; // the recording thread's until stop
    pa_simple *connection = nullptr;
    std::atomic<bool> running{false};
    std::thread thread;
};
