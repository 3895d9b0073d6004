#include "wavwriter.h"

#include <QtEndian>
#include <cstring>
#include <limits>
#include <vector>

namespace {

constexpr int headerSize = 44;

void put16(char *at, std::uint16_t value)
{
    qToLittleEndian(value, at);
}

void put32(char *at, std::uint32_t value)
{
    qToLittleEndian(value, at);
}

} // namespace

WavWriter::WavWriter(int sampleRate, int channels) : sampleRate(sampleRate), channels(channels) {}

WavWriter::~WavWriter()
{
    if (file.isOpen())
        finish();
}

bool WavWriter::open(const QString &path)
{
    file.setFileName(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    dataBytes = 0;

    const auto blockAlign = static_cast<std::uint16_t>(channels * 2);
    char header[headerSize];
    std::memcpy(header, "RIFF", 4);
    put32(header + 4, 0);
    std::memcpy(header + 8, "WAVEfmt ", 8);
    put32(header + 16, 16);
    put16(header + 20, 1); // PCM
    put16(header + 22, static_cast<std::uint16_t>(channels));
    put32(header + 24, static_cast<std::uint32_t>(sampleRate));
    put32(header + 28, static_cast<std::uint32_t>(sampleRate) * blockAlign);
    put16(header + 32, blockAlign);
    put16(header + 34, 16);
    std::memcpy(header + 36, "data", 4);
    put32(header + 40, 0);
    return file.write(header, headerSize) == headerSize;
}

bool WavWriter::write(const std::int16_t *samples, std::size_t count)
{
    if (!file.isOpen())
        return false;
    // The RIFF size field counts the data and 36 header bytes in 32 bits.
    const std::uint64_t limit = std::numeric_limits<std::uint32_t>::max() - (headerSize - 8);
    const std::uint64_t bytes = static_cast<std::uint64_t>(count) * 2;
    if (dataBytes + bytes > limit)
        return false;

    std::vector<char> buffer(bytes);
    for (std::size_t i = 0; i < count; ++i)
        qToLittleEndian(samples[i], buffer.data() + 2 * i);
    if (file.write(buffer.data(), static_cast<qint64>(bytes)) != static_cast<qint64>(bytes))
        return false;
    dataBytes += static_cast<std::uint32_t>(bytes);
    return true;
}

bool WavWriter::finish()
{
    if (!file.isOpen())
        return false;
    char size[4];
    put32(size, dataBytes + (headerSize - 8));
    bool ok = file.seek(4) && file.write(size, 4) == 4;
    put32(size, dataBytes);
    ok = ok && file.seek(40) && file.write(size, 4) == 4;
    ok = file.flush() && ok;
    file.close();
    return ok;
}

std::uint64_t WavWriter::framesWritten() const
{
    return dataBytes / (2u * static_cast<unsigned>(channels));
}
