#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The encoded packets of one stream in the order of their sequence numbers, waiting for their
// turn to be played. Packets may come twice, late or out of order: a duplicate is dropped, a
// packet whose turn has passed is dropped, and one that comes before an earlier one is put in
// its place. A packet that has not come when its turn is due is passed over (the player
// conceals it), so the timeline never shifts.
//
// Sequence numbers are 32 bits and wrap; the queue extends them to 64 bits around the head.
// A number far from the head (a sender that started again, or jumped ahead by more than the
// queue holds) begins the stream anew from that packet.
//
// Not thread-safe: its owner locks. Slots are allocated at construction with room for
// packets of a given size; taking a packet swaps its bytes with the caller's buffer, so
// neither insert (for packets up to that size) nor take allocates.
class PacketQueue
{
public:
    enum class Insertion
    {
        Queued,
        Restarted, // queued as the first packet of a new stream; what was queued is gone
        Duplicate,
        Late, // its turn has passed
        Empty,
    };
    enum class Head
    {
        Ready,   // the next packet is here
        Missing, // the next packet has not come, but later ones have
        Empty,   // nothing at or after the head
    };
    struct Taken
    {
        std::size_t length = 0;
        int frames = 0;
        std::int64_t sequence = 0;
    };

    PacketQueue(std::size_t slotCount, std::size_t packetBytes);

    // frames: the audio the packet holds, per channel.
    Insertion insert(std::uint32_t sequence, const unsigned char *data, std::size_t length,
                     int frames);
    Head head() const;
    // The head packet, when Ready: its bytes are swapped into `bytes` and the head moves on.
    Taken take(std::vector<unsigned char> &bytes);
    // Moves the head past a Missing packet.
    void skip();
    // Forgets every packet and the stream's numbering.
    void clear();

    // The extended sequence number at the head; meaningful once a packet has been queued.
    std::int64_t headSequence() const { return next; }
    // Extended number of the packet the last insert queued.
    std::int64_t lastSequence() const { return lastInserted; }
    // Extended number of the newest packet queued (below headSequence() when Empty).
    std::int64_t newestSequence() const { return newest; }
    // The audio from the head to the newest packet, missing ones counted as long as the
    // last packet that came.
    std::int64_t queuedFrames() const;
    // Frames of the last packet that came: the length assumed for those that did not.
    int nominalFrames() const { return lastFrames; }

private:
    struct Slot
    {
        std::int64_t sequence = -1; // extended number held, -1 when empty
        std::vector<unsigned char> bytes;
        std::size_t length = 0;
        int frames = 0;
    };

    Slot &slotFor(std::int64_t sequence);
    const Slot &slotFor(std::int64_t sequence) const;
    void store(std::int64_t sequence, const unsigned char *data, std::size_t length, int frames);
    void startAt(std::int64_t sequence);

    std::vector<Slot> ring;
    bool started = false; // a packet has been queued since the last clear
    bool moved = false;   // the head has moved since then
    std::int64_t next = 0;
    std::int64_t newest = -1;
    std::int64_t presentFrames = 0; // frames of the packets held
    std::int64_t presentCount = 0;
    int lastFrames = 0;
    std::int64_t lastInserted = 0;
};
