#include "audio/playout/jitterbuffer.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr std::int64_t nsPerSecond = 1'000'000'000;

} // namespace

JitterBuffer::JitterBuffer(const Format &format, std::unique_ptr<PacketDecoder> decoder,
                           std::int64_t nowNs)
    : sampleRate(format.sampleRate), channels(format.channels),
      maxPacketFrames(format.sampleRate * 120 / 1000), queue(queueSlots, packetCapacity),
      lastWakeNs(nowNs), latencyWindowStartNs(nowNs), decoder(std::move(decoder)),
      // A packet's leftover and the next packet, however long.
      resampler(format.channels, 2 * std::size_t(maxPacketFrames)),
      decoded(std::size_t(maxPacketFrames) * std::size_t(format.channels)), previousRenderNs(nowNs),
      cycle(format.periodFrames, format.maxWriteFrames)
{
    packetBytes.reserve(packetCapacity);
    deviceNeedNs = framesToNs(cycle.periodFrames() + cycle.deadlineFrames());
    target.reset(nowNs);
    counters.targetMs = target.ms();
}

std::int64_t JitterBuffer::framesToNs(double frames) const
{
    return std::int64_t(frames * double(nsPerSecond) / sampleRate);
}

// Under the lock. The delay the drift loop holds wavers by a few milliseconds around the
// target as the fastest recent packet changes, which the margin covers.
double JitterBuffer::latenessRequirementMs() const
{
    return double(lateness.recentLatenessNs() + deviceNeedNs) / 1e6 + trackingMarginMs;
}

void JitterBuffer::push(std::uint32_t sequence, const unsigned char *packet, std::size_t length,
                        std::int64_t arrivalNs)
{
    const int frames = decoder->packetFrames(packet, length);
    if (frames <= 0)
        return;
    std::lock_guard<std::mutex> lock(mutex);
    switch (queue.insert(sequence, packet, length, frames)) {
    case PacketQueue::Insertion::Restarted:
        lateness.reset();
        [[fallthrough]];
    case PacketQueue::Insertion::Queued:
        lateness.arrived(queue.lastSequence(), arrivalNs, framesToNs(frames));
        target.require(latenessRequirementMs(), arrivalNs);
        recordLatency(queue.lastSequence(), arrivalNs);
        break;
    case PacketQueue::Insertion::Duplicate:
        ++counters.duplicates;
        break;
    case PacketQueue::Insertion::Late:
        ++counters.late;
        break;
    case PacketQueue::Insertion::Empty:
        break;
    }
}

// Under the lock: from arrival to output is what the device still holds of what it had at
// the last wake, what waits decoded, and the packets ahead of this one.
void JitterBuffer::recordLatency(std::int64_t sequence, std::int64_t arrivalNs)
{
    if (arrivalNs - latencyWindowStartNs >= nsPerSecond) {
        counters.latencyMs = latencyCount > 0 ? int(latencySumNs / latencyCount / 1e6 + 0.5) : -1;
        latencySumNs = 0;
        latencyCount = 0;
        latencyWindowStartNs = arrivalNs;
    }
    if (!playingNow)
        return;
    const std::int64_t deviceNs =
        std::max<std::int64_t>(framesToNs(deviceAfterWake) - (arrivalNs - lastWakeNs), 0);
    const double aheadFrames =
        pendingAfterWake + double(sequence - queue.headSequence()) * queue.nominalFrames();
    latencySumNs += double(deviceNs + framesToNs(aheadFrames));
    ++latencyCount;
}

JitterBuffer::Stats JitterBuffer::stats() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return counters;
}

std::uint32_t JitterBuffer::render(std::int16_t *out, std::uint32_t deviceFrames,
                                   std::uint32_t room, std::int64_t nowNs)
{
    sinceLastWakeNs = nowNs - previousRenderNs;
    previousRenderNs = nowNs;
    const double elapsedSeconds = double(sinceLastWakeNs) / nsPerSecond;
    double targetNs = 0;
    std::int64_t dueNs = 0;
    bool canStart = false;
    {
        std::lock_guard<std::mutex> lock(mutex);
        observeDevice(deviceFrames);
        target.update(nowNs);
        if (playing)
            dropBeyondBound(deviceFrames);
        canStart = !playing && cycle.known() && lateness.anchored() &&
                   queue.head() != PacketQueue::Head::Empty;
        if (canStart)
            prepareStart(deviceFrames, nowNs);
        targetNs = target.ms() * 1e6;
        dueNs = lateness.dueNs(queue.headSequence());
    }
    // How long after its ideal arrival the next packet's audio will be heard.
    double delayNs = double(nowNs + framesToNs(deviceFrames + resampler.pendingFrames()) - dueNs);
    std::uint32_t written = 0;
    if (canStart) {
        // Starts when this wake's top-up reaches the target, with just the silence before
        // the audio that makes the delay the target, to the frame.
        const double shortFrames = (targetNs - delayNs) * sampleRate / nsPerSecond;
        if (shortFrames <= room) {
            written = shortFrames > 0 ? std::uint32_t(std::lround(shortFrames)) : 0;
            std::fill(out, out + std::size_t(written) * channels, std::int16_t(0));
            delayNs += double(framesToNs(written));
            playing = true;
            startedOnce = true;
            drift.restart();
        }
    }
    if (playing) {
        const double step = drift.update((delayNs - targetNs) / nsPerSecond, elapsedSeconds);
        written += play(out + std::size_t(written) * channels, deviceFrames + written,
                        room - written, step, nowNs);
    } else {
        written = silence(out, deviceFrames, room);
    }

    std::lock_guard<std::mutex> lock(mutex);
    lastWakeNs = nowNs;
    deviceAfterWake = deviceFrames + written;
    pendingAfterWake = resampler.pendingFrames();
    playingNow = playing;
    counters.playing = playing;
    counters.targetMs = target.ms();
    counters.delayErrorMs = playing ? drift.smoothedError() * 1e3 : 0;
    counters.step = drift.step();
    return written;
}

// Under the lock: what the device took since the last wake. A device that takes more at once
// than its period says (a sound server's longer cycle) needs more kept, and so does a busy
// machine's render thread that wakes late while the device plays on. A wake is late by what
// the device played beyond its cycle, not by the time between wakes: a device that stops
// playing needs nothing more meanwhile. Wake lateness counts only between two wakes of
// playing: a stream that waits for its target may not be asked for data at all and wake only
// by its timeout.
void JitterBuffer::observeDevice(std::uint32_t deviceFrames)
{
    const std::uint32_t playedFrames = deviceAfterWake - std::min(deviceFrames, deviceAfterWake);
    lastTakeFrames = playedFrames;
    cycle.took(playedFrames);
    if (playedFrames == 0 && deviceAfterWake > 0 &&
        sinceLastWakeNs > framesToNs(2 * cycle.periodFrames()))
        cycle.heldWithoutTaking();
    const std::uint32_t period = cycle.periodFrames();
    if (playing)
        wakeLateness.add(framesToNs(playedFrames - std::min(playedFrames, period)),
                         LatenessTracker::coveredShare);
    // What is written at a wake may still come too late for the device's next request (a
    // sound server passes it on through its own process first, and plays silence for a
    // stream that cannot fill its cycle), so the device is kept a cycle above its deadline.
    deviceNeedNs = framesToNs(period + cycle.deadlineFrames()) + wakeLateness.quantile();
}

// Under the lock, as playing is about to start. The packets before a first start came while
// the device was being opened or had not yet asked for data, and the thread that receives
// them may have been busy opening it: their arrival times say nothing of the network, so only
// the fastest is kept and the target starts afresh. Then playing starts at the target, not
// above it, which the pace would take seconds to play down: packets that piled up meanwhile
// are dropped, the oldest first.
void JitterBuffer::prepareStart(std::uint32_t deviceFrames, std::int64_t nowNs)
{
    if (!startedOnce) {
        lateness.keepOnlyFastest();
        target.reset(nowNs);
        target.require(latenessRequirementMs(), nowNs);
    }
    const double targetNs = target.ms() * 1e6;
    const std::int64_t heardNs = nowNs + framesToNs(deviceFrames + resampler.pendingFrames());
    while (queue.headSequence() < queue.newestSequence() &&
           double(heardNs - lateness.dueNs(queue.headSequence())) > targetNs) {
        dropHead();
        ++counters.startDrops;
    }
}

// Zeros only to keep the device from running dry: while waiting for the target, the less
// silence it holds, the closer to the target the audio can start.
std::uint32_t JitterBuffer::silence(std::int16_t *out, std::uint32_t deviceFrames,
                                    std::uint32_t room)
{
    const std::uint32_t deadlineFrames = cycle.deadlineFrames();
    const std::uint32_t frames =
        deviceFrames < deadlineFrames ? std::min(room, deadlineFrames - deviceFrames) : 0;
    std::fill(out, out + std::size_t(frames) * std::size_t(channels), std::int16_t(0));
    return frames;
}

std::uint32_t JitterBuffer::play(std::int16_t *out, std::uint32_t deviceFrames, std::uint32_t room,
                                 double step, std::int64_t nowNs)
{
    // Everything that can be played goes to the device at once: there, no stall of this
    // program can interrupt it.
    std::uint32_t produced = 0;
    while (produced < room) {
        produced += std::uint32_t(
            resampler.read(out + std::size_t(produced) * channels, room - produced, step));
        if (produced == room || !feedResampler(deviceFrames + produced))
            break;
    }
    if (deviceFrames + produced >= cycle.deadlineFrames())
        return produced;

    // About to run dry with nothing to play: one gap, then wait for the target again.
    const std::uint32_t frames = produced + silence(out + std::size_t(produced) * channels,
                                                    deviceFrames + produced, room - produced);
    playing = false;
    std::lock_guard<std::mutex> lock(mutex);
    target.underrun(nowNs);
    ++counters.underruns;
    counters.lastUnderrun = {framesToNs(deviceFrames) / 1e6, framesToNs(lastTakeFrames) / 1e6,
                             sinceLastWakeNs / 1e6,
                             (nowNs - lateness.dueNs(queue.headSequence())) / 1e6};
    return frames;
}

// Decodes the next packet into the resampler, or conceals it when it is missing and the
// device cannot wait for it any longer. False when there is nothing to give yet.
bool JitterBuffer::feedResampler(std::uint32_t queuedFrames)
{
    PacketQueue::Taken taken;
    int concealFrames = 0;
    {
        std::lock_guard<std::mutex> lock(mutex);
        switch (queue.head()) {
        case PacketQueue::Head::Ready:
            taken = queue.take(packetBytes);
            break;
        case PacketQueue::Head::Missing:
            if (queuedFrames >= cycle.deadlineFrames())
                return false;
            concealFrames = queue.nominalFrames();
            queue.skip();
            ++counters.concealed;
            break;
        case PacketQueue::Head::Empty:
            return false;
        }
    }
    int frames = 0;
    if (taken.length > 0) {
        frames = decoder->decode(packetBytes.data(), taken.length, decoded.data(), maxPacketFrames);
        // A packet that does not decode leaves a hole of its length, concealed like a loss.
        if (frames <= 0)
            concealFrames = taken.frames;
    }
    if (concealFrames > 0)
        frames = decoder->conceal(decoded.data(), std::min(concealFrames, maxPacketFrames));
    resampler.append(decoded.data(), std::size_t(std::max(frames, 0)));
    return true;
}

// Under the lock: a queue beyond its bound loses its oldest packets, down to the target.
void JitterBuffer::dropBeyondBound(std::uint32_t deviceFrames)
{
    const auto levelFrames = [&] {
        return double(deviceFrames) + resampler.pendingFrames() + double(queue.queuedFrames());
    };
    const double boundFrames = double(maxQueueMs) * sampleRate / 1000;
    if (levelFrames() <= boundFrames)
        return;
    const double targetFrames = target.ms() * sampleRate / 1000;
    while (levelFrames() > targetFrames && queue.head() != PacketQueue::Head::Empty) {
        dropHead();
        ++counters.overflowDrops;
    }
}

// Under the lock: the head packet goes unplayed, present or not.
void JitterBuffer::dropHead()
{
    if (queue.head() == PacketQueue::Head::Ready)
        queue.take(packetBytes);
    else
        queue.skip();
}
