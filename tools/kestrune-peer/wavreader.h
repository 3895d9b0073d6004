#pragma once

#include <QFile>
#include <QString>
#include <cstdint>

// Reads a 16-bit PCM WAV file, mono or stereo, as interleaved stereo.
class WavReader
{
public:
    // False, with errorString() saying why, when the file cannot be read or holds another
    // kind of audio.
    bool open(const QString &path);

    int sampleRate() const { return rate; }
    int channels() const { return channelCount; }
    QString errorString() const { return error; }

    // Up to frames frames into out (2 samples per frame; a mono file's sample goes to both
    // channels). Returns the frames read; 0 at the end of the data.
    int readStereo(std::int16_t *out, int frames);

private:
    bool fail(const QString &why);

    QFile file;
    QString error;
    int rate = 0;
    int channelCount = 0;
    qint64 dataLeft = 0; // bytes of the data chunk not read yet
};
