#include "core/audiodatagram.h"

#include <cstring>
#include <type_traits>

namespace {

// Byte by byte through shifts: right on any host byte order and at any alignment.
template <typename T> void putLittleEndian(char *at, T value)
{
    auto bits = static_cast<std::make_unsigned_t<T>>(value);
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        at[i] = static_cast<char>(bits & 0xFF);
        bits = static_cast<decltype(bits)>(bits >> 8);
    }
}

std::uint16_t getLittleEndian16(const char *at)
{
    return static_cast<std::uint16_t>(static_cast<unsigned char>(at[0]) |
                                      static_cast<unsigned char>(at[1]) << 8);
}

std::uint32_t getLittleEndian32(const char *at)
{
    return std::uint32_t(getLittleEndian16(at)) | std::uint32_t(getLittleEndian16(at + 2)) << 16;
}

} // namespace

namespace AudioDatagram {

bool build(QByteArray &datagram, std::uint32_t sequenceNumber, std::int64_t timestamp,
           int sampleRate, QByteArrayView packet)
{
    if (packet.isEmpty() || packet.size() > maxPayloadSize) {
        datagram.resize(0); // keeps the storage for the next frame
        return false;
    }
    datagram.resize(headerSize + packet.size());
    char *bytes = datagram.data();
    putLittleEndian(bytes + sequenceNumberOffset, sequenceNumber);
    putLittleEndian(bytes + timestampOffset, timestamp);
    putLittleEndian(bytes + markerOffset, marker);
    putLittleEndian(bytes + sampleRateOffset, static_cast<std::uint16_t>(sampleRate));
    putLittleEndian(bytes + payloadLengthOffset, static_cast<std::uint16_t>(packet.size()));
    std::memcpy(bytes + headerSize, packet.data(), static_cast<std::size_t>(packet.size()));
    return true;
}

std::uint32_t sequenceNumber(QByteArrayView datagram)
{
    return datagram.size() < headerSize ? 0
                                        : getLittleEndian32(datagram.data() + sequenceNumberOffset);
}

QByteArrayView payload(QByteArrayView datagram)
{
    if (datagram.size() < headerSize)
        return {};
    const int length = getLittleEndian16(datagram.data() + payloadLengthOffset);
    if (length == 0 || datagram.size() - headerSize < length)
        return {};
    return datagram.sliced(headerSize, length);
}

} // namespace AudioDatagram
