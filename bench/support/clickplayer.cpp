#include "clickplayer.h"

#include <pulse/simple.h>

#include <cmath>
#include <vector>

namespace {

constexpr int sampleRate = 48000;
constexpr std::size_t blockFrames = sampleRate / 400; // 2.5 ms
constexpr std::size_t clickFrames = sampleRate / 200; // 5 ms
constexpr double clickHz = 2000;

} // namespace

ClickPlayer::~ClickPlayer()
{
    stop();
}

bool ClickPlayer::start(const std::string &sink, double periodMs)
{
    periodFrames = std::size_t(std::llround(periodMs * sampleRate / 1000));
    const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, sampleRate, 2};
    // A short buffer: the clicks are timed where they come out, not where they go in, but
    // a long one would only delay the run.
    pa_buffer_attr attributes;
    attributes.maxlength = std::uint32_t(-1);
    attributes.tlength = std::uint32_t(4 * blockFrames * 2 * sizeof(float));
    attributes.prebuf = std::uint32_t(-1);
    attributes.minreq = std::uint32_t(blockFrames * 2 * sizeof(float));
    attributes.fragsize = std::uint32_t(-1);
    connection = pa_simple_new(nullptr, "bench clicks", PA_STREAM_PLAYBACK, sink.c_str(),
                               "clicks", &spec, nullptr, &attributes, nullptr);
    if (!connection)
        return false;
    running = true;
    thread = std::thread(&ClickPlayer::run, this);
    return true;
}

void ClickPlayer::stop()
{
    running = false;
    if (thread.joinable())
        thread.join();
    if (connection)
        pa_simple_free(connection);
    connection = nullptr;
}

void ClickPlayer::run()
{
    std::vector<float> block(blockFrames * 2);
    std::size_t position = 0; // frames played since start
    while (running) {
        for (std::size_t i = 0; i < blockFrames; ++i, ++position) {
            const std::size_t intoPeriod = position % periodFrames;
            const double value =
                intoPeriod < clickFrames
                    ? 0.5 * std::sin(2 * M_PI * clickHz * double(intoPeriod) / sampleRate + M_PI / 2)
                    : 0.0;
            block[2 * i] = block[2 * i + 1] = float(value);
        }
        if (pa_simple_write(connection, block.data(), block.size() * sizeof(float), nullptr) < 0)
            return;
    }
}
