#include "audio/playout/packetqueue.h"

#include <algorithm>

PacketQueue::PacketQueue(std::size_t slotCount, std::size_t packetBytes) : ring(slotCount)
{
    for (Slot &slot : ring)
        slot.bytes.reserve(packetBytes);
}

PacketQueue::Slot &PacketQueue::slotFor(std::int64_t sequence)
{
    return ring[std::size_t(sequence % std::int64_t(ring.size()))];
}

const PacketQueue::Slot &PacketQueue::slotFor(std::int64_t sequence) const
{
    return ring[std::size_t(sequence % std::int64_t(ring.size()))];
}

void PacketQueue::clear()
{
    for (Slot &slot : ring)
        slot.sequence = -1;
    started = false;
    moved = false;
    next = 0;
    newest = -1;
    presentFrames = 0;
    presentCount = 0;
}

void PacketQueue::startAt(std::int64_t sequence)
{
    clear();
    started = true;
    next = sequence;
    newest = sequence - 1;
}

PacketQueue::Insertion PacketQueue::insert(std::uint32_t sequence, const unsigned char *data,
                                           std::size_t length, int frames)
{
    if (!data || length == 0 || frames <= 0)
        return Insertion::Empty;
    const auto window = std::int64_t(ring.size());
    if (!started) {
        // Numbers are kept non-negative and far from 0, so that going back never goes below.
        startAt(std::int64_t(sequence) + (std::int64_t(1) << 32));
        store(next, data, length, frames);
        return Insertion::Queued;
    }
    const std::int64_t extended = next + std::int32_t(sequence - std::uint32_t(next));
    Insertion result = Insertion::Queued;
    if (extended < next) {
        if (!moved && newest - extended < window) {
            // Before the first packet, while nothing has been played: the stream began earlier.
            next = extended;
        } else if (next - extended <= window) {
            return Insertion::Late;
        } else {
            startAt(extended);
            result = Insertion::Restarted;
        }
    } else if (extended >= next + window) {
        startAt(extended);
        result = Insertion::Restarted;
    } else if (slotFor(extended).sequence == extended) {
        return Insertion::Duplicate;
    }
    store(extended, data, length, frames);
    return result;
}

void PacketQueue::store(std::int64_t sequence, const unsigned char *data, std::size_t length,
                        int frames)
{
    Slot &slot = slotFor(sequence);
    slot.sequence = sequence;
    slot.bytes.assign(data, data + length);
    slot.length = length;
    slot.frames = frames;
    presentFrames += frames;
    ++presentCount;
    lastFrames = frames;
    lastInserted = sequence;
    newest = std::max(newest, sequence);
}

PacketQueue::Head PacketQueue::head() const
{
    if (!started || newest < next)
        return Head::Empty;
    return slotFor(next).sequence == next ? Head::Ready : Head::Missing;
}

PacketQueue::Taken PacketQueue::take(std::vector<unsigned char> &bytes)
{
    if (head() != Head::Ready)
        return {};
    Slot &slot = slotFor(next);
    Taken taken{slot.length, slot.frames, next};
    slot.bytes.swap(bytes);
    slot.sequence = -1;
    presentFrames -= slot.frames;
    --presentCount;
    ++next;
    moved = true;
    return taken;
}

void PacketQueue::skip()
{
    if (head() != Head::Missing)
        return;
    ++next;
    moved = true;
}

std::int64_t PacketQueue::queuedFrames() const
{
    if (!started || newest < next)
        return 0;
    const std::int64_t missing = newest - next + 1 - presentCount;
    return presentFrames + missing * lastFrames;
}
