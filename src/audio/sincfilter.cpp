#include "audio/sincfilter.h"

#include <cmath>

namespace {

constexpr double pi = 3.14159265358979323846;

double besselI0(double x)
{
    const double quarterSquare = x * x / 4.0;
    double sum = 1.0;
    double term = 1.0;
    for (int k = 1; term > sum * 1e-17; ++k) {
        term *= quarterSquare / (double(k) * k);
        sum += term;
    }
    return sum;
}

double kaiserBeta(double attenuationDb)
{
    return 0.1102 * (attenuationDb - 8.7);
}

} // namespace

double kaiserWindow(double x, double beta)
{
    return std::abs(x) >= 1.0 ? 0.0 : besselI0(beta * std::sqrt(1.0 - x * x)) / besselI0(beta);
}

int kaiserTapCount(double attenuationDb, double transitionWidth)
{
    int taps = int(std::ceil((attenuationDb - 7.95) / (14.36 * transitionWidth)));
    return taps + taps % 2;
}

std::vector<float> windowedSincTable(int taps, int phases, double cutoff, double attenuationDb)
{
    const double beta = kaiserBeta(attenuationDb);
    const double half = taps / 2.0;
    std::vector<float> table(std::size_t(phases + 1) * std::size_t(taps));
    std::vector<double> row(static_cast<std::size_t>(taps));
    for (int phase = 0; phase <= phases; ++phase) {
        double sum = 0.0;
        for (int k = 0; k < taps; ++k) {
            // Distance in input frames from the output's time to the frame under tap k.
            const double distance = double(phase) / phases + half - 1.0 - k;
            const double window = kaiserWindow(distance / half, beta);
            const double arg = pi * 2.0 * cutoff * distance;
            const double sinc = arg == 0.0 ? 1.0 : std::sin(arg) / arg;
            row[std::size_t(k)] = 2.0 * cutoff * sinc * window;
            sum += row[std::size_t(k)];
        }
        for (int k = 0; k < taps; ++k)
            table[std::size_t(phase) * std::size_t(taps) + std::size_t(k)] =
                float(row[std::size_t(k)] / sum);
    }
    return table;
}
