#pragma once

#include "audio/platform/audioplatform.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

// Captured audio on its way from the sound server's thread to the capture thread: chunks
// copied into storage of a fixed size, each with the moment its first frame left the mixer,
// lent out oldest first. Whole frames only; nothing is allocated after construction. Not
// thread-safe: its owner guards it.
class CaptureQueue
{
public:
    using Clock = std::chrono::steady_clock;

    CaptureQueue(std::size_t capacityFrames, std::size_t frameBytes, int sampleRate);

    // Copies bytes (whole frames) in; null data is a hole in the recording, kept as silence.
    // False, with nothing copied, when there is no room for all of it.
    bool push(const void *data, std::size_t bytes, Clock::time_point origin);
    std::size_t readableFrames() const { return queuedFrames; }
    // Lends the oldest chunk, or its part before the storage wraps round, with its delay at
    // `now`; no frames when the queue is empty. The bytes stay put until popped.
    CapturePacket front(Clock::time_point now) const;
    // Drops the first frames of the oldest chunk (all of it when it holds no more).
    void pop(std::uint32_t frames);

private:
    struct Chunk
    {
        std::size_t offset = 0; // in frames, into the storage
        std::uint32_t frames = 0;
        bool silent = false;
        Clock::time_point origin;
    };

    void pushPart(const unsigned char *data, std::size_t frames, Clock::time_point origin);

    const std::size_t frameBytes;
    const Clock::duration frameLength;
    std::vector<unsigned char> storage;
    std::vector<Chunk> chunks; // a ring: `chunkCount` from `firstChunk` on
    std::size_t firstChunk = 0;
    std::size_t chunkCount = 0;
    std::size_t readFrame = 0; // where the oldest chunk starts in the storage
    std::size_t queuedFrames = 0;
};
