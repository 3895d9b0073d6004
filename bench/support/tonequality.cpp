#include "tonequality.h"

#include "audio/sincfilter.h"

#include <algorithm>
#include <cmath>
#include <complex>

namespace {

// Far sidelobes below the 24-bit floor, a main lobe within about 6 bins (35 Hz).
constexpr double kaiserBeta = 20;

// In-place radix-2 FFT; values.size() is a power of two.
void fft(std::vector<std::complex<double>> &values)
{
    const std::size_t n = values.size();
    for (std::size_t i = 1, j = 0; i < n; ++i) {
        std::size_t bit = n >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        j ^= bit;
        if (i < j)
            std::swap(values[i], values[j]);
    }
    for (std::size_t length = 2; length <= n; length <<= 1) {
        const std::complex<double> turn = std::polar(1.0, -2 * M_PI / double(length));
        for (std::size_t start = 0; start < n; start += length) {
            std::complex<double> w = 1;
            for (std::size_t k = 0; k < length / 2; ++k, w *= turn) {
                const std::complex<double> even = values[start + k];
                const std::complex<double> odd = w * values[start + k + length / 2];
                values[start + k] = even + odd;
                values[start + k + length / 2] = even - odd;
            }
        }
    }
}

} // namespace

double thdPlusNoiseDb(const std::vector<float> &samples, double sampleRate)
{
    const std::size_t n = thdWindowSamples;
    if (samples.size() < n)
        return 0;
    std::vector<std::complex<double>> spectrum(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double x = 2.0 * double(i) / double(n - 1) - 1.0;
        const double window = kaiserWindow(x, kaiserBeta);
        spectrum[i] = double(samples[i]) * window;
    }
    fft(spectrum);
    const double binHz = sampleRate / double(n);
    std::vector<double> power(n / 2);
    for (std::size_t k = 0; k < n / 2; ++k)
        power[k] = std::norm(spectrum[k]);
    const auto lowest = std::size_t(std::ceil(20 / binHz));
    const auto highest = std::min(n / 2 - 1, std::size_t(20000 / binHz));
    const auto peak = std::size_t(std::max_element(power.begin() + std::ptrdiff_t(lowest),
                                                   power.begin() + std::ptrdiff_t(highest) + 1) -
                                  power.begin());
    const auto notchBins = std::size_t(std::ceil(notchHz / binHz));
    double tone = 0;
    double rest = 0;
    for (std::size_t k = lowest; k <= highest; ++k) {
        const std::size_t distance = k > peak ? k - peak : peak - k;
        (distance <= notchBins ? tone : rest) += power[k];
    }
    return tone > 0 ? 10 * std::log10(std::max(rest, 1e-300) / tone) : 0;
}
