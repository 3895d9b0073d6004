#pragma once

#include <pulse/simple.h>

#include <cstddef>
#include <string>

// A 48000 Hz stereo float stream of PulseAudio's simple API on a device, moving audio in
// chunks of chunkFrames; a playback stream keeps bufferFrames queued. Null when the server
// refuses it.
pa_simple *openFloatStereo(pa_stream_direction_t direction, const std::string &device,
                           const char *name, std::size_t chunkFrames, std::size_t bufferFrames = 0);
