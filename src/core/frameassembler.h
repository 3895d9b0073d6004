#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Turns captured float samples into whole frames of signed 16-bit samples. Samples that
// do not yet fill a frame wait for the next packet; nothing is padded or flushed. After
// construction it allocates nothing, so it can run on the capture thread.
class FrameAssembler
{
public:
    explicit FrameAssembler(std::size_t frameSamples);

    // x > 1 gives 32767, x < -1 gives -32767, anything else x * 32767 truncated toward
    // zero; NaN, which no comparison catches, gives 0.
    static std::int16_t toPcm16(float x);

    // Converts count samples and calls onFrame(const std::int16_t *frame) for every frame
    // they complete; the frame is only valid during the call.
    template <typename OnFrame>
    void push(const float *samples, std::size_t count, OnFrame &&onFrame)
    {
        for (std::size_t i = 0; i < count; ++i) {
            frame[filled++] = toPcm16(samples[i]);
            if (filled == frame.size()) {
                filled = 0;
                onFrame(static_cast<const std::int16_t *>(frame.data()));
            }
        }
    }

    // Drops the samples waiting for a frame.
    void clear() { filled = 0; }
    std::size_t pending() const { return filled; }

private:
    std::vector<std::int16_t> frame;
    std::size_t filled = 0;
};
