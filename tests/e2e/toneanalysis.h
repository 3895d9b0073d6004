#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Measures a recorded sine tone: where it is, its frequency and its level.
namespace ToneAnalysis {

struct Span
{
    std::size_t begin = 0; // first sample
    std::size_t end = 0;   // one past the last
    std::size_t size() const { return end - begin; }
};

struct Measurement
{
    double frequencyHz = 0;
    double rmsDbfs = -200;
};

// The first channel of interleaved stereo, scaled to [-1, 1).
std::vector<double> firstChannel(const std::vector<std::int16_t> &stereo);

// From the first to the last 10 ms block whose level is above thresholdDbfs; empty when
// no block is.
Span loudSpan(const std::vector<double> &samples, int sampleRate, double thresholdDbfs);

// The span without margin samples at each end (empty when that leaves nothing).
Span shrink(Span span, std::size_t margin);

double rmsDbfs(const std::vector<double> &samples, Span span);

// Frequency from the rising zero crossings (interpolated between samples) and the RMS level.
Measurement measure(const std::vector<double> &samples, Span span, int sampleRate);

// The span measured in 100 ms blocks: a glitch (a gap, a jump, lost or repeated samples)
// shows as a block whose frequency or level is off, while the medians stay those of the tone.
struct Blocks
{
    Measurement median;
    int count = 0;
    int deviating = 0; // off the median by more than 1 % in frequency or 0.5 dB in level
};
Blocks measureBlocks(const std::vector<double> &samples, Span span, int sampleRate);

} // namespace ToneAnalysis
