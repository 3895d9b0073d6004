#pragma once

#include <cstdint>
#include <vector>

// One second of something music-like at 48000 Hz, interleaved stereo, so that the encoder
// has real work: two tones per channel and a little noise. The same every time.
std::vector<std::int16_t> music();
