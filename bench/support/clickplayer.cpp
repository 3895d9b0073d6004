#include "clickplayer.h"

#include "pulsesimple.h"

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
    // A short buffer: the clicks are timed where they come out, not where they go in, but
    // a long one would only delay the run.
    connection = openFloatStereo(PA_STREAM_PLAYBACK, sink, "clicks", blockFrames, 4 * blockFrames);
    if (!connection)
        return false;
    worker.start([this] { run(); });
    return true;
}

void ClickPlayer::stop()
{
    worker.stop();
    if (connection)
        pa_simple_free(connection);
    connection = nullptr;
}

void ClickPlayer::run()
{
    std::vector<float> block(blockFrames * 2);
    std::size_t position = 0; // frames played since start
    while (worker.keepRunning()) {
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
