#include "audio/platform/wasapi/waveformat.h"

#include <objbase.h>

namespace {

// The sub-format GUIDs of KSDATAFORMAT_SUBTYPE_PCM and _IEEE_FLOAT, spelt out so that no
// import library has to provide them.
constexpr GUID subtypePcm = {
    0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
constexpr GUID subtypeFloat = {
    0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

// Whether the block carries the extensible part (sub-format, channel mask) in full.
bool isExtensible(const WAVEFORMATEX &format)
{
    return format.wFormatTag == WAVE_FORMAT_EXTENSIBLE &&
           format.cbSize >= sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
}

StreamFormat::Encoding encodingOf(const WAVEFORMATEX &format)
{
    switch (format.wFormatTag) {
    case WAVE_FORMAT_IEEE_FLOAT:
        return StreamFormat::Encoding::Float;
    case WAVE_FORMAT_PCM:
        return StreamFormat::Encoding::Pcm;
    case WAVE_FORMAT_EXTENSIBLE: {
        if (!isExtensible(format))
            return StreamFormat::Encoding::Other;
        const GUID &subtype = reinterpret_cast<const WAVEFORMATEXTENSIBLE &>(format).SubFormat;
        if (IsEqualGUID(subtype, subtypeFloat))
            return StreamFormat::Encoding::Float;
        if (IsEqualGUID(subtype, subtypePcm))
            return StreamFormat::Encoding::Pcm;
        return StreamFormat::Encoding::Other;
    }
    default:
        return StreamFormat::Encoding::Other;
    }
}

} // namespace

void TaskMemFree::operator()(void *block) const
{
    CoTaskMemFree(block);
}

StreamFormat streamFormatOf(const WAVEFORMATEX &format)
{
    StreamFormat stream;
    stream.encoding = encodingOf(format);
    stream.sampleRate = int(format.nSamplesPerSec);
    stream.channels = int(format.nChannels);
    stream.bitsPerSample = int(format.wBitsPerSample);
    // Only an extensible format names its speakers; otherwise the usual layout applies.
    if (isExtensible(format))
        stream.channelMask =
            std::uint32_t(reinterpret_cast<const WAVEFORMATEXTENSIBLE &>(format).dwChannelMask);
    return stream;
}

TaskMemFormat pcm16Format(int sampleRate, int channels)
{
    if (sampleRate <= 0 || channels <= 0 || channels > 0xFFFF / 2)
        return {};
    TaskMemFormat format(static_cast<WAVEFORMATEX *>(CoTaskMemAlloc(sizeof(WAVEFORMATEX))));
    if (!format)
        return {};
    format->wFormatTag = WAVE_FORMAT_PCM;
    format->nChannels = WORD(channels);
    format->nSamplesPerSec = DWORD(sampleRate);
    format->nBlockAlign = WORD(channels * 2);
    format->nAvgBytesPerSec = DWORD(sampleRate) * format->nBlockAlign;
    format->wBitsPerSample = 16;
    format->cbSize = 0;
    return format;
}
