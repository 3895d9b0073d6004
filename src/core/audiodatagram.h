#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <cstdint>

// The audio datagram: a 17-byte header, every field little-endian and unaligned, followed by
// one Opus packet.
//
//   offset  size  field
//        0     4  sequence number (unsigned)
//        4     8  timestamp, nanoseconds since 1970-01-01 UTC (signed)
//       12     1  marker, always 1
//       13     2  sample rate, its low 16 bits
//       15     2  payload length N
//       17     N  the Opus packet
namespace AudioDatagram {

constexpr int headerSize = 17;
constexpr std::uint8_t marker = 1;

constexpr int sequenceNumberOffset = 0;
constexpr int timestampOffset = 4;
constexpr int markerOffset = 12;
constexpr int sampleRateOffset = 13;
constexpr int payloadLengthOffset = 15;

// The most payload the 16-bit length field can announce.
constexpr int maxPayloadSize = 0xFFFF;

// Makes datagram hold the datagram for packet. The buffer's storage is reused: a buffer that
// has room for headerSize plus the largest packet (reserve it once) and that nobody else
// shares is filled without allocating. False, and datagram emptied, when the packet is empty
// or longer than the length field can say.
bool build(QByteArray &datagram, std::uint32_t sequenceNumber, std::int64_t timestamp,
           int sampleRate, QByteArrayView packet);

// The sequence number of a datagram at least headerSize bytes long.
std::uint32_t sequenceNumber(QByteArrayView datagram);

// The Opus packet a received datagram carries, as a view into it; empty when the datagram
// is to be dropped: shorter than the header, announcing no payload, or holding less payload
// than it announces. Bytes after the announced payload are ignored.
QByteArrayView payload(QByteArrayView datagram);

} // namespace AudioDatagram
