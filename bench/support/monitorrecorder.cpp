#include "monitorrecorder.h"

#include <pulse/simple.h>

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
    const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, sampleRate, 2};
    pa_buffer_attr attributes;
    attributes.maxlength = std::uint32_t(-1);
    attributes.tlength = std::uint32_t(-1);
    attributes.prebuf = std::uint32_t(-1);
    attributes.minreq = std::uint32_t(-1);
    attributes.fragsize = std::uint32_t(blockFrames * 2 * sizeof(float));
    connection = pa_simple_new(nullptr, "bench recorder", PA_STREAM_RECORD, source.c_str(),
                               "reference", &spec, nullptr, &attributes, nullptr);
    if (!connection)
        return false;
    running = true;
    thread = std::thread(&MonitorRecorder::run, this);
    return true;
}

void MonitorRecorder::stop()
{
    running = false;
    if (thread.joinable())
        thread.join();
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
    while (running) {
        if (pa_simple_read(connection, block.data(), block.size() * sizeof(float), nullptr) < 0)
            return;
        lastBlock = BenchClock::now();
        detector.feed(block.data(), blockFrames, lastBlock);
        if (countedFrom != BenchClock::time_point())
            countedFrames += blockFrames;
        else if (lastBlock - started >= std::chrono::seconds(1))
            countedFrom = lastBlock;
    }
}
