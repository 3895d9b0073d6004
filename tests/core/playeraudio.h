#pragma once

#include "audio/opuscodec.h"

#include <QByteArray>
#include <QtEndian>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

// What a phone sends to a player: audio datagrams of Opus frames of a test tone.

// One datagram around an Opus packet; `announced` is the payload length its header claims,
// the packet's own length unless given.
inline QByteArray audioDatagram(const std::vector<unsigned char> &packet, int announced = -1,
                                quint32 sequence = 0)
{
    QByteArray datagram(17, '\0');
    auto *bytes = reinterpret_cast<uchar *>(datagram.data());
    qToLittleEndian<quint32>(sequence, bytes);
    bytes[12] = 1;
    qToLittleEndian<quint16>(48000, bytes + 13);
    qToLittleEndian<quint16>(quint16(announced < 0 ? int(packet.size()) : announced), bytes + 15);
    datagram.append(reinterpret_cast<const char *>(packet.data()), qsizetype(packet.size()));
    return datagram;
}

// Stereo frames of a tone on each channel, at amplitude 0.5.
inline std::vector<float> tone(int frames, double leftHz, double rightHz, int firstFrame = 0)
{
    std::vector<float> samples;
    for (int i = firstFrame; i < firstFrame + frames; ++i) {
        samples.push_back(float(0.5 * std::sin(2 * M_PI * leftHz * i / 48000)));
        samples.push_back(float(0.5 * std::sin(2 * M_PI * rightHz * i / 48000)));
    }
    return samples;
}

inline std::vector<std::int16_t> toPcm(const std::vector<float> &samples)
{
    std::vector<std::int16_t> pcm;
    for (float x : samples)
        pcm.push_back(std::int16_t(x * 32767));
    return pcm;
}

// The 10 ms frame number `frame` of 1000 Hz left and 500 Hz right, encoded.
inline std::vector<unsigned char> encodedTone(OpusCodec &codec, int frame)
{
    return codec.encode(toPcm(tone(480, 1000, 500, frame * 480)).data(), 480);
}

inline bool allSilent(const std::vector<std::int16_t> &samples)
{
    return std::all_of(samples.begin(), samples.end(), [](std::int16_t s) { return s == 0; });
}
