#pragma once

#include "audio/playout/recentvalues.h"

#include <cstdint>

// How much the device takes between two wakes of the render thread. A sound server may run
// its graph in cycles longer than the period a stream names (PipeWire in 1024-frame quanta
// where the stream asked for 480) and take a whole cycle at once: the buffer must then keep
// what a cycle takes above its deadline, and a wake that follows a cycle's take is on time,
// not late. The period is the median of the recent takes, never below the named one; the
// late wakes of a busy machine, which take more, stay a minority.
//
// Plain data, no allocation; one thread.
class DeviceCycle
{
public:
    DeviceCycle(std::uint32_t namedPeriodFrames, std::uint32_t capacityFrames);

    // The device played this much since the last wake. A wake with nothing played (a
    // timeout, a device not yet started) says nothing about the cycle.
    void took(std::uint32_t frames);
    // The device held audio for a while and took none. Before it has taken any, it waits
    // for more than it holds before it starts (PipeWire for a whole cycle): the period is
    // taken to be twice as long, so that more is written.
    void heldWithoutTaking();
    // Whether the device has been seen taking audio.
    bool known() const { return !takes.empty(); }
    std::uint32_t periodFrames() const { return period; }
    // A device holding less than this at a wake runs dry before the next one: a period and
    // a quarter, for wakes that come a little late, within what the device can hold.
    std::uint32_t deadlineFrames() const { return deadline; }

private:
    void setPeriod(std::uint32_t frames);

    const std::uint32_t namedPeriod;
    const std::uint32_t capacity;
    RecentValues<64> takes;
    std::uint32_t period = 0;
    std::uint32_t deadline = 0;
};
