#pragma once

#include <QFile>
#include <QString>
#include <cstddef>
#include <cstdint>

// Writes interleaved 16-bit PCM to a WAV file. The sizes in the header are written as zero
// first and filled in by finish(), so a file left by a crash is still recognisable.
class WavWriter
{
public:
    WavWriter(int sampleRate, int channels);
    ~WavWriter();
    WavWriter(const WavWriter &) = delete;
    WavWriter &operator=(const WavWriter &) = delete;

    bool open(const QString &path);
    // count is the number of samples (all channels together); false when the file refused
    // them or the format cannot say a longer data size.
    bool write(const std::int16_t *samples, std::size_t count);
    // Fills in the sizes and closes the file.
    bool finish();

    QString errorString() const { return file.errorString(); }
    std::uint64_t framesWritten() const;

private:
    QFile file;
    int sampleRate;
    int channels;
    std::uint32_t dataBytes = 0;
};
