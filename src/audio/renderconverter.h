#pragma once

#include "audio/platform/audioplatform.h"

#include <cstdint>

// Writing pushed 16-bit audio into the buffer of a render stream. The stream normally runs
// in exactly the pushed format, but a platform may fall back to the endpoint's own mix
// format, whose sample type and channel count can differ (its rate is not converted).

// Whether writeRenderFrames can fill a buffer of this format: 16-, 24- or 32-bit PCM, or
// 32-bit float, with at least one channel.
bool isWritableRenderFormat(const StreamFormat &format);

// Writes frames x channels interleaved samples into exactly frames x format.blockAlign()
// bytes: the same channels when the counts match, otherwise mono spread to the first two
// channels (or a mix averaged into a mono output), and further output channels silent.
void writeRenderFrames(const std::int16_t *samples, int channels, std::uint32_t frames,
                       const StreamFormat &format, unsigned char *buffer);
