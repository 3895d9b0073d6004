#pragma once

// The one audio format of the stream, end to end and at both ends: what the sending path
// encodes, what every datagram carries and what the player decodes.
namespace Stream {

constexpr int sampleRate = 48000;
constexpr int channels = 2;
constexpr int frameSize = 480;           // samples per channel in one datagram (10 ms)
constexpr int maxDecodeFrameSize = 5760; // the longest Opus frame (120 ms), per channel
constexpr int bitrate = 128000;          // bit/s until a quality command says otherwise

} // namespace Stream
