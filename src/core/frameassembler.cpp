#include "core/frameassembler.h"

FrameAssembler::FrameAssembler(std::size_t frameSamples) : frame(frameSamples) {}

std::int16_t FrameAssembler::toPcm16(float x)
{
    if (x > 1.0f)
        return 32767;
    if (x < -1.0f)
        return -32767;
    if (x != x)
        return 0;
    return static_cast<std::int16_t>(x * 32767.0);
}
