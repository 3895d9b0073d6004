#include "monitorrecorder.h"

#include "pulsesimple.h"

#include <vector>

namespace {

constexpr int sampleRate = 48000;
constexpr std::size_t blockFrames = sampleRate / 1000;

} // namespace

MonitorRecorder::MonitorRecorder(double threshold) : detector(threshold, sampleRate / 10) {}

MonitorRecorder::~MonitorRecorder()
{
    stop();
}

bool MonitorRecorder::start(const std::string &source)
{
    connection = openFloatStereo(PA_STREAM_RECORD, source, "reference", blockFrames);
    if (!connection)
        return false;
    worker.start([this] { run(); });
    return true;
}

void MonitorRecorder::stop()
{
    worker.stop();
    if (connection)
        pa_simple_free(connection);
    connection = nullptr;
}

double MonitorRecorder::framesPerSecond() const
{
    const double seconds = std::chrono::duration<double>(lastBlock - countedFrom).count();
    return countedFrames > 0 && seconds > 0 ? double(countedFrames) / seconds : 0;
}

void MonitorRecorder::run()
{
    std::vector<float> block(blockFrames * 2);
    started = BenchClock::now();
    while (worker.keepRunning()) {
        if (pa_simple_read(connection, block.data(), block.size() * sizeof(float), nullptr) < 0)
            return;
        lastBlock = BenchClock::now();
        detector.feed(block.data(), blockFrames, lastBlock);
        if (blockHandler)
            blockHandler(block.data(), blockFrames);
        if (countedFrom != BenchClock::time_point())
            countedFrames += blockFrames;
        else if (lastBlock - started >= std::chrono::seconds(1))
            countedFrom = lastBlock;
    }
}
