#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Plays interleaved 16-bit audio at a pace that may change at every call, by a small
// fraction: a player that follows a sender whose clock runs a little fast or slow reads its
// audio slightly faster or slower than it came. Between input frames it interpolates with a
// windowed-sinc filter whose rows are themselves interpolated, so any position is exact to
// far below the 16-bit noise floor. At a step of exactly 1 from a fresh start the output is
// the input, sample for sample.
//
// The input waits in a buffer of fixed size, allocated at construction: append and read
// never allocate, so the render thread may use them.
class FractionalResampler
{
public:
    // capacityFrames: the most input frames that may wait at once (step must stay above 0).
    FractionalResampler(int channels, std::size_t capacityFrames);

    // Input frames append() can take now.
    std::size_t room() const;
    // Queues frames of input (at most room()).
    void append(const std::int16_t *samples, std::size_t frames);
    // Writes up to `frames` output frames, moving on by `step` input frames for each (1 plays
    // the audio as it came, more plays it faster); fewer when the input runs out, since the
    // filter looks taps() / 2 frames ahead. Returns how many were written.
    std::size_t read(std::int16_t *output, std::size_t frames, double step);
    // Input frames not yet played: from the read position, fraction included, to the end.
    double pendingFrames() const;
    // Forgets the input and the position, as if nothing had been appended.
    void reset();

    int taps() const { return tapCount; }

private:
    const int channels;
    const int tapCount;
    std::vector<float> coefficients; // (phases + 1) rows of tapCount, see sincfilter.h
    std::vector<float> interpolated; // the row for the current position
    // Input frames still needed by the filter, then those not yet reached.
    std::vector<float> input;
    std::size_t inputFrames = 0;
    std::size_t position = 0; // frame in input at or before the next output's time
    double fraction = 0.0;    // how far past it, in input frames
};
