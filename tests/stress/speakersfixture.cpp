#include "speakersfixture.h"

#include "audio/platform/audioplatform.h"
#include "e2esupport.h"

bool SpeakersFixture::take()
{
    bool ok = false;
    E2e::pactl({"info"}, &ok);
    if (!ok)
        return false;
    speakersMuted = E2e::sinkMuted("speakers");
    AudioPlatform::install(createSystemAudioPlatform());
    return true;
}

void SpeakersFixture::restore() const
{
    E2e::pactl({"set-sink-mute", "speakers", speakersMuted ? "1" : "0"});
}
