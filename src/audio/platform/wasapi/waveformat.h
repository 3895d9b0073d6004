#pragma once

#include "audio/platform/audioplatform.h"

#include <audioclient.h>
#include <memory>

// A format block handed out by the audio system, returned to its allocator when dropped.
struct TaskMemFree
{
    void operator()(void *block) const;
};
using TaskMemFormat = std::unique_ptr<WAVEFORMATEX, TaskMemFree>;

// What the engines need to know of a format: float for tag 3 or extensible float, PCM for
// tag 1 or extensible PCM, anything else Other; the sample size is the container size; the
// channel mask of an extensible format, 0 for any other.
StreamFormat streamFormatOf(const WAVEFORMATEX &format);

// The 16-bit PCM format the player asks for, in the audio system's allocator; null when
// the rate or channel count cannot be expressed.
TaskMemFormat pcm16Format(int sampleRate, int channels);
