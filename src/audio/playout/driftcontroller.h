#pragma once

// Holds the playout delay at its target while the sender's clock and the device's differ,
// by playing the audio a little faster or slower. A proportional-integral loop on the
// smoothed error: the integral settles on the clocks' difference, so a steady drift leaves
// no lasting error; inside a small dead band the pace is left alone, so a stream that keeps
// time plays exactly as it came. The result is the step, input frames per output frame,
// within 1 +- maxDeviation.
//
// Plain data; one thread.
class DriftController
{
public:
    static constexpr double maxDeviation = 0.005;
    static constexpr double smoothingSeconds = 0.5;
    static constexpr double deadBandSeconds = 0.001;
    static constexpr double proportionalGain = 1.0; // step deviation per second of error
    static constexpr double integralGain = proportionalGain * proportionalGain / 4;

    // Forgets everything: the pace is 1 again.
    void reset();
    // Forgets the smoothed error but keeps what it learnt of the clocks (after a pause in
    // playing, the delay starts again from wherever the player resumed).
    void restart();
    // errorSeconds: playout delay minus target, now; elapsedSeconds: since the last update.
    // Returns the step to play at.
    double update(double errorSeconds, double elapsedSeconds);

    double step() const { return 1.0 + deviation; }
    double smoothedError() const { return smoothed; }

private:
    bool primed = false;
    double smoothed = 0;
    double integral = 0;
    double deviation = 0;
};
