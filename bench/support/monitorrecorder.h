#pragma once

#include "onsetdetector.h"
#include "workerthread.h"

#include <functional>
#include <string>

struct pa_simple;

// Records a source (a sink's monitor) in 1 ms blocks on a thread of its own and finds the
// clicks in it. Small blocks keep the time stamp of each block within about a millisecond
// of the moment the sound server made it available.
class MonitorRecorder
{
public:
    explicit MonitorRecorder(double threshold);
    ~MonitorRecorder();

    // Also hands every block, interleaved stereo, to handler on the recording thread.
    using BlockHandler = std::function<void(const float *stereo, std::size_t frames)>;
    void setBlockHandler(BlockHandler handler) { blockHandler = std::move(handler); }

    bool start(const std::string &source);
    void stop();
    // Read after stop.
    const std::vector<BenchClock::time_point> &onsets() const { return detector.onsets(); }
    // The source's clock as this machine's clock sees it: frames recorded per second, from
    // the first second on (the start may bring what the server had buffered). Read after
    // stop; 0 when the recording was too short.
    double framesPerSecond() const;

private:
    void run();

    OnsetDetector detector; // the recording thread's until stop, as are the five below
    BlockHandler blockHandler;
    BenchClock::time_point started;
    BenchClock::time_point countedFrom; // the first block after the first second
    BenchClock::time_point lastBlock;
    std::size_t countedFrames = 0;
    pa_simple *connection = nullptr;
    WorkerThread worker;
};
