#pragma once

// The private PulseAudio as the streaming core's sound system, for the stress tests. Their
// peers send Mute commands, which toggle the fixture's default output "speakers": restore()
// gives it back the state take() found it in, so that later tests hear it.
class SpeakersFixture
{
public:
    // False when the private PulseAudio does not answer.
    bool take();
    void restore() const;

private:
    bool speakersMuted = false;
};
