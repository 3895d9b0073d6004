#include "music.h"

#include <cmath>
#include <random>

std::vector<std::int16_t> music()
{
    constexpr int sampleRate = 48000;
    std::minstd_rand random(1);
    std::uniform_real_distribution<double> noise(-1, 1);
    std::vector<std::int16_t> pcm(std::size_t(sampleRate) * 2);
    for (int i = 0; i < sampleRate; ++i) {
        const double t = double(i) / sampleRate;
        const double left = 0.3 * std::sin(2 * M_PI * 220 * t) +
                            0.2 * std::sin(2 * M_PI * 1320 * t) + 0.05 * noise(random);
        const double right = 0.3 * std::sin(2 * M_PI * 330 * t) +
                             0.2 * std::sin(2 * M_PI * 2475 * t) + 0.05 * noise(random);
        pcm[2 * std::size_t(i)] = std::int16_t(left * 32767);
        pcm[2 * std::size_t(i) + 1] = std::int16_t(right * 32767);
    }
    return pcm;
}
