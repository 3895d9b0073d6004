#include "core/devicelists.h"

#include "audio/platform/audioplatform.h"
#include "audio/wasapicapture.h"
#include "audio/wasapiplayer.h"

#include <QVariantMap>

namespace {

QVariantList deviceRecords(const std::vector<DeviceInfo> &endpoints)
{
    QVariantList records;
    for (const DeviceInfo &endpoint : endpoints) {
        records.append(
            QVariantMap{{QStringLiteral("id"), QString::fromStdWString(endpoint.id)},
                        {QStringLiteral("name"), QString::fromStdWString(endpoint.name)}});
    }
    return records;
}

} // namespace

DeviceLists::Changes DeviceLists::reload()
{
    const QVariantList audio = deviceRecords(WasapiCapture::enumerateDevices());
    const QVariantList output = deviceRecords(WasapiPlayer::enumerateDevices());
    // Only an empty list needs the reason; asking costs a connection attempt when there is
    // no sound system.
    int state = Listed;
    if (audio.isEmpty() && output.isEmpty())
        state = AudioPlatform::instance().isReachable() ? NoDevices : NoSoundSystem;

    const Changes changes{audio != audioList, output != outputList, state != currentState};
    audioList = audio;
    outputList = output;
    currentState = state;
    return changes;
}
