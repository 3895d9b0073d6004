#include "audio/playout/driftcontroller.h"

#include <algorithm>
#include <cmath>

void DriftController::reset()
{
    restart();
    integral = 0;
    deviation = 0;
}

void DriftController::restart()
{
    primed = false;
    smoothed = 0;
}

double DriftController::update(double errorSeconds, double elapsedSeconds)
{
    if (!primed) {
        smoothed = errorSeconds;
        primed = true;
    } else {
        const double weight = 1.0 - std::exp(-std::max(elapsedSeconds, 0.0) / smoothingSeconds);
        smoothed += weight * (errorSeconds - smoothed);
    }
    const double outside =
        std::copysign(std::max(std::abs(smoothed) - deadBandSeconds, 0.0), smoothed);
    const double wanted = proportionalGain * outside + integral;
    // The integral only learns while the pace is free to follow it.
    if (std::abs(wanted) < maxDeviation)
        integral = std::clamp(integral + integralGain * outside * elapsedSeconds, -maxDeviation,
                              maxDeviation);
    deviation = std::clamp(proportionalGain * outside + integral, -maxDeviation, maxDeviation);
    return step();
}
