#pragma once

#include "audio/playout/jitterbuffer.h"
#include "sendschedule.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

// A phone, a network and an output device, each on its own clock, around one jitter buffer,
// simulated far faster than real time. The device names a 10 ms period, plays continuously
// and asks for data every cycle of real time (10 ms unless set), perhaps after a pause, and
// the render thread answers, perhaps late; the
// phone makes a 10 ms packet every 10 ms of its own clock and the pattern sets how fast that clock
// runs and how the network holds the packets back; each reaches the buffer a transit after it
// leaves. The packets carry 16-bit PCM as it is, so what the device gets shows exactly what was
// sent; a lost packet is concealed with `concealed`.
class PlayoutSimulation
{
public:
    struct Setup
    {
        int sampleRate = 48000;
        int channels = 2;
        SendPattern pattern;
        std::int64_t transitNs = 1'000'000;
        std::int16_t concealed = 0;
        // The value of every channel of the phone's frame n (from 0).
        std::function<std::int16_t(std::int64_t frame)> sample;
        // How late the render thread answers the device's request n (none when empty).
        std::function<std::int64_t(std::int64_t request)> wakeDelayNs;
        // How long the device stops, playing nothing, before its request n (none when
        // empty): a sound server that pauses its graph.
        std::function<std::int64_t(std::int64_t request)> devicePauseNs;
        std::int64_t deviceCycleNs = 10'000'000;
        std::int64_t firstRequestNs = 5'000'000;
        // The device starts playing once it holds this much (PipeWire: a whole cycle).
        std::uint32_t deviceStartFrames = 0;
        // The packets that come between these times all reach the buffer at the end: a
        // receiving thread busy opening the device, a network that stalls.
        std::int64_t heldFromNs = 0;
        std::int64_t heldUntilNs = 0;
    };
    // What the device got at one wake: frames x channels samples, at nowNs.
    using Played =
        std::function<void(const std::int16_t *samples, std::uint32_t frames, std::int64_t nowNs)>;

    explicit PlayoutSimulation(const Setup &setup);

    // Runs on until `seconds` of real time have passed since the start.
    void run(double seconds, const Played &played);

    const JitterBuffer &buffer() const { return jitter; }
    // Frames the device had to play with nothing queued, once the audio had started.
    std::uint64_t starvedFrames() const { return starved; }

private:
    void wake(std::int64_t nowNs, const Played &played);

    const Setup setup;
    const std::uint32_t period;
    const std::uint32_t capacity;
    JitterBuffer jitter;
    SendSchedule schedule;
    std::vector<unsigned char> packet;
    std::vector<std::int16_t> out;
    std::int64_t made = 0;     // packets made so far
    double nextArrivalMs = -1; // of packet `made`, once it is due
    std::int64_t nextRequestNs = 0;
    std::int64_t requests = 0;
    std::int64_t lastWakeNs = 0;
    std::int64_t pausedNs = 0; // since the last wake
    std::uint32_t deviceFrames = 0;
    bool deviceRunning = false;
    bool started = false;
    std::uint64_t starved = 0;
};
