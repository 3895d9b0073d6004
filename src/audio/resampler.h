#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Converts interleaved float audio from one sample rate to another with a Kaiser-windowed
// sinc filter in polyphase form. It keeps its input history between calls, so a stream fed
// in pieces of any size gives the same output as one fed in a single piece.
class Resampler
{
public:
    Resampler(int inputRate, int outputRate, int channels);

    // The most frames one call of process() can write for this many input frames.
    std::size_t maxOutputFrames(std::size_t inputFrames) const;
    // Takes the input frames and writes every output frame that they complete; returns how
    // many were written. The output lags the input by half the filter length.
    std::size_t process(const float *input, std::size_t frames, float *output);
    // Forgets the history, as if nothing had been fed yet.
    void reset();

    // Taps of the filter, in input frames (its length, twice the delay it adds).
    int taps() const { return tapCount; }

private:
    int channels;
    std::uint64_t up;   // output rate / common divisor: steps of one input frame
    std::uint64_t down; // input rate / common divisor: how far one output frame advances
    int tapCount;
    int phases; // rows of the table: fractional positions between two input frames
    // (phases + 1) rows of tapCount coefficients; the last row is the first one moved on
    // by one input frame, so rounding a position up never leaves the table.
    std::vector<float> coefficients;
    // Input frames still needed by the filter, followed by the frames of the current call.
    std::vector<float> history;
    std::size_t historyFrames = 0;
    std::size_t position = 0;  // frame in history at or before the next output's time
    std::uint64_t fraction = 0; // how far past it, in units of 1/up input frames
};
