#pragma once

#include <vector>

// THD+N of a recorded sine, as an analyser with a notch measures it: the spectrum of a
// Kaiser-windowed stretch of 8192 samples, everything from 20 Hz to 20 kHz that is not
// within notchHz of the strongest peak (the tone), set against what is within it, in dB.
// A tone whose frequency glides slowly (a player that resamples) keeps its glide inside the
// notch; harmonics, noise, gaps and jumps all count.
double thdPlusNoiseDb(const std::vector<float> &samples, double sampleRate);

// The stretch thdPlusNoiseDb analyses (the first samples of what it is given).
constexpr int thdWindowSamples = 8192;
constexpr double notchHz = 50;
