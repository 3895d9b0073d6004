#include "wavreader.h"

#include <QtEndian>
#include <vector>

namespace {

constexpr std::uint16_t formatPcm = 1;
constexpr std::uint16_t formatExtensible = 0xFFFE;

} // namespace

bool WavReader::fail(const QString &why)
{
    error = QStringLiteral("%1: %2").arg(file.fileName(), why);
    file.close();
    return false;
}

bool WavReader::open(const QString &path)
{
    file.close();
    rate = channelCount = 0;
    dataLeft = 0;
    file.setFileName(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    const QByteArray riff = file.read(12);
    if (riff.size() < 12 || !riff.startsWith("RIFF") || riff.mid(8, 4) != "WAVE")
        return fail(QStringLiteral("not a WAV file"));

    bool haveFormat = false;
    for (;;) {
        const QByteArray chunk = file.read(8);
        if (chunk.size() < 8)
            return fail(haveFormat ? QStringLiteral("no audio data")
                                   : QStringLiteral("no format description"));
        const QByteArray id = chunk.left(4);
        const std::uint32_t size = qFromLittleEndian<std::uint32_t>(chunk.constData() + 4);
        if (id == "fmt ") {
            if (size < 16)
                return fail(QStringLiteral("format description too short"));
            const QByteArray format = file.read(size);
            if (format.size() < static_cast<qsizetype>(size))
                return fail(QStringLiteral("truncated format description"));
            std::uint16_t tag = qFromLittleEndian<std::uint16_t>(format.constData());
            // An extensible format names its real encoding in the first two bytes of the
            // sub-format GUID, at offset 24.
            if (tag == formatExtensible && size >= 26)
                tag = qFromLittleEndian<std::uint16_t>(format.constData() + 24);
            channelCount = qFromLittleEndian<std::uint16_t>(format.constData() + 2);
            rate = static_cast<int>(qFromLittleEndian<std::uint32_t>(format.constData() + 4));
            const int bits = qFromLittleEndian<std::uint16_t>(format.constData() + 14);
            if (tag != formatPcm || bits != 16)
                return fail(QStringLiteral("only 16-bit PCM is supported"));
            if (channelCount != 1 && channelCount != 2)
                return fail(QStringLiteral("%1 channels; only mono and stereo are supported")
                                .arg(channelCount));
            haveFormat = true;
        } else if (id == "data") {
            if (!haveFormat)
                return fail(QStringLiteral("audio data before the format description"));
            // A writer that never finished leaves 0 or a size past the end: take what is there.
            const qint64 available = file.size() - file.pos();
            dataLeft = size == 0 ? available : qMin<qint64>(size, available);
            return true;
        } else {
            // Chunks are padded to an even size.
            if (!file.seek(file.pos() + size + (size & 1)))
                return fail(QStringLiteral("truncated chunk"));
        }
    }
}

int WavReader::readStereo(std::int16_t *out, int frames)
{
    const qint64 frameBytes = 2 * channelCount;
    const qint64 wanted = qMin<qint64>(frames, dataLeft / frameBytes);
    if (wanted <= 0)
        return 0;
    std::vector<char> bytes(static_cast<std::size_t>(wanted * frameBytes));
    const qint64 got = file.read(bytes.data(), static_cast<qint64>(bytes.size()));
    if (got <= 0)
        return 0;
    dataLeft -= got;
    const int read = static_cast<int>(got / frameBytes);
    for (int frame = 0; frame < read; ++frame) {
        const char *at = bytes.data() + frame * frameBytes;
        const auto left = qFromLittleEndian<std::int16_t>(at);
        out[2 * frame] = left;
        out[2 * frame + 1] = channelCount == 2 ? qFromLittleEndian<std::int16_t>(at + 2) : left;
    }
    return read;
}
