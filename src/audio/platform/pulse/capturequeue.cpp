#include "audio/platform/pulse/capturequeue.h"

#include <algorithm>
#include <cstring>

namespace {

// Chunks are rarely smaller than a millisecond; the storage holds at most this many.
constexpr std::size_t chunksPerSecond = 2000;

} // namespace

CaptureQueue::CaptureQueue(std::size_t capacityFrames, std::size_t frameBytes, int sampleRate)
    : frameBytes(frameBytes), frameLength(std::chrono::duration_cast<Clock::duration>(
                                  std::chrono::nanoseconds(std::int64_t(1000000000) / sampleRate))),
      storage(capacityFrames * frameBytes),
      chunks(std::max<std::size_t>(16, capacityFrames * chunksPerSecond / std::size_t(sampleRate)))
{
}

bool CaptureQueue::push(const void *data, std::size_t bytes, Clock::time_point origin)
{
    const std::size_t frames = bytes / frameBytes;
    const std::size_t capacity = storage.size() / frameBytes;
    if (frames == 0)
        return true;
    if (frames > capacity - queuedFrames || chunkCount + 2 > chunks.size())
        return false;
    // Where the storage wraps round, the chunk goes in as two.
    const std::size_t writeFrame = (readFrame + queuedFrames) % capacity;
    const std::size_t first = std::min(frames, capacity - writeFrame);
    const auto *bytesIn = static_cast<const unsigned char *>(data);
    pushPart(bytesIn, first, origin);
    if (first < frames)
        pushPart(bytesIn ? bytesIn + first * frameBytes : nullptr, frames - first,
                 origin + std::int64_t(first) * frameLength);
    return true;
}

void CaptureQueue::pushPart(const unsigned char *data, std::size_t frames, Clock::time_point origin)
{
    const std::size_t capacity = storage.size() / frameBytes;
    const std::size_t writeFrame = (readFrame + queuedFrames) % capacity;
    unsigned char *target = storage.data() + writeFrame * frameBytes;
    if (data)
        std::memcpy(target, data, frames * frameBytes);
    else
        std::memset(target, 0, frames * frameBytes);
    chunks[(firstChunk + chunkCount) % chunks.size()] =
        Chunk{writeFrame, std::uint32_t(frames), data == nullptr, origin};
    ++chunkCount;
    queuedFrames += frames;
}

CapturePacket CaptureQueue::front(Clock::time_point now) const
{
    CapturePacket packet;
    if (chunkCount == 0)
        return packet;
    const Chunk &chunk = chunks[firstChunk];
    packet.data = storage.data() + chunk.offset * frameBytes;
    packet.frames = chunk.frames;
    packet.silent = chunk.silent;
    packet.delayUs = std::max<std::int64_t>(
        0, std::chrono::duration_cast<std::chrono::microseconds>(now - chunk.origin).count());
    return packet;
}

void CaptureQueue::pop(std::uint32_t frames)
{
    if (chunkCount == 0 || frames == 0)
        return;
    Chunk &chunk = chunks[firstChunk];
    const std::uint32_t dropped = std::min(frames, chunk.frames);
    const std::size_t capacity = storage.size() / frameBytes;
    readFrame = (readFrame + dropped) % capacity;
    queuedFrames -= dropped;
    if (dropped < chunk.frames) {
        chunk.offset += dropped;
        chunk.frames -= dropped;
        chunk.origin += std::int64_t(dropped) * frameLength;
        return;
    }
    firstChunk = (firstChunk + 1) % chunks.size();
    --chunkCount;
}
