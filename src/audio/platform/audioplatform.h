#pragma once

#include "audio/deviceinfo.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// The format a platform stream actually runs with.
struct StreamFormat
{
    enum class Encoding
    {
        Float,
        Pcm,
        Other
    };

    Encoding encoding = Encoding::Other;
    int sampleRate = 0;
    int channels = 0;
    int bitsPerSample = 0; // container size of one sample, not its valid bits
    // Speaker positions of the channels, as the bits of a Windows channel mask (front left
    // 0x1, front right 0x2, front centre 0x4, LFE 0x8, back left 0x10, ...), the channels in
    // ascending bit order; 0 when unknown, and then the usual layout for the channel count
    // is assumed.
    std::uint32_t channelMask = 0;

    int blockAlign() const { return channels * bitsPerSample / 8; }
};

// One packet lent by a loopback stream; the data stays valid until releaseBuffer.
struct CapturePacket
{
    const unsigned char *data = nullptr;
    std::uint32_t frames = 0;
    bool silent = false; // the data is to be taken as silence, whatever it holds
    // How long before it was lent the packet's first frame left the mixer, as the sound
    // system reports it; negative when the sound system cannot tell.
    std::int64_t delayUs = -1;
};

// A shared-mode stream of what an output endpoint plays, read by polling; a stream whose
// sound system can say when a packet is ready also wakes a waiting reader.
class LoopbackStream
{
public:
    virtual ~LoopbackStream() = default;

    virtual StreamFormat format() const = 0;
    virtual bool start() = 0;
    virtual void stop() = 0;
    // Returns once at least the given number of frames is ready to be read (a sound system
    // that cannot count them: at its next packet), or after the timeout. A sound system that
    // never signals makes this a plain sleep, so readers still ask nextPacketSize after every
    // wait, and a wait may also end early.
    virtual void waitForPacket(std::uint32_t frames, int timeoutMs) = 0;
    // Frames in the next ready packet (0 when none is ready); false when the stream failed.
    virtual bool nextPacketSize(std::uint32_t &frames) = 0;
    virtual bool getBuffer(CapturePacket &packet) = 0;
    virtual void releaseBuffer(std::uint32_t frames) = 0;
};

// A shared-mode render stream that signals when it wants data.
class RenderStream
{
public:
    virtual ~RenderStream() = default;

    virtual StreamFormat format() const = 0; // the format actually used (may be the fallback)
    virtual std::uint32_t bufferFrames() const = 0;
    // Frames the device plays between two of its requests for data: the render loop's
    // usual interval.
    virtual std::uint32_t periodFrames() const = 0;
    virtual bool start() = 0;
    virtual void stop() = 0;
    // Returns when the stream wants data, when wake() is called, or after the timeout.
    virtual void waitForEvent(int timeoutMs) = 0;
    virtual void wake() = 0;
    // Frames written but not yet played.
    virtual bool currentPadding(std::uint32_t &frames) = 0;
    // A writable buffer of the given number of frames, or null.
    virtual unsigned char *getBuffer(std::uint32_t frames) = 0;
    virtual void releaseBuffer(std::uint32_t frames) = 0;
};

// An opened output endpoint.
class AudioEndpoint
{
public:
    virtual ~AudioEndpoint() = default;

    virtual std::unique_ptr<LoopbackStream> openLoopback() = 0;
    // Asks for 16-bit PCM at the given rate and channel count with a buffer of the given
    // length; a platform that refuses it may fall back to the endpoint's mix format, which
    // the returned stream's format() then reports.
    virtual std::unique_ptr<RenderStream> openRender(int sampleRate, int channels,
                                                     int bufferMs) = 0;
};

// Two devices the program made in the sound system: an output endpoint, and an input that
// records what the output plays, so that every program can take the sound played into the
// output as a microphone. Destroying the object removes both from the sound system.
class VirtualMicrophone
{
public:
    virtual ~VirtualMicrophone() = default;

    virtual std::wstring outputId() const = 0;
};

// The only door from the engines and the Mute command to the computer's sound system.
// One backend is installed at start-up; tests install a fake.
class AudioPlatform
{
public:
    virtual ~AudioPlatform() = default;

    // Every active output endpoint, in the sound system's order; empty on failure.
    virtual std::vector<DeviceInfo> outputEndpoints() = 0;
    // The endpoint with this id, or the default output endpoint for an empty id; null
    // when there is none.
    virtual std::unique_ptr<AudioEndpoint> openEndpoint(const std::wstring &id) = 0;
    // Flips the master mute of the default output endpoint; false when nothing changed.
    virtual bool toggleDefaultOutputMute() = 0;
    // Every thread that uses the platform calls these around its use (COM apartments).
    virtual void attachThread() {}
    virtual void detachThread() {}

    // False when the sound system cannot be reached at all, which an empty list of endpoints
    // cannot tell apart from a system without outputs.
    virtual bool isReachable() { return true; }

    // Calls changed, from any thread, whenever the output endpoints, the default one or the
    // reachability of the sound system may have changed, until unwatchDevices is given the
    // returned number. A sound system that cannot tell never calls.
    int watchDevices(std::function<void()> changed);
    // Once it returns, no call for that watch runs or will come.
    void unwatchDevices(int watch);

    // Whether this sound system can make a virtual microphone at all.
    virtual bool canMakeVirtualMicrophone() const { return false; }
    // Makes one, reusing whatever part of it an earlier run left; null when that failed.
    virtual std::unique_ptr<VirtualMicrophone> makeVirtualMicrophone() { return {}; }
    // The one an earlier run left behind (it ended without removing it), handed over to the
    // caller; null when there is none.
    virtual std::unique_ptr<VirtualMicrophone> takeOverVirtualMicrophone() { return {}; }

    static AudioPlatform &instance();
    // Replaces the installed backend; call before any engine exists.
    static void install(std::unique_ptr<AudioPlatform> platform);

protected:
    // For the backend: tells every watch that the devices may have changed.
    void reportDevicesChanged();
    // Called at the first watch: the backend begins to listen to its sound system.
    virtual void beginWatching() {}
    // Called when the last watch ends, on the thread that ends it: the backend stops
    // listening (where it listens through the thread's COM apartment, while that is alive).
    virtual void endWatching() {}

private:
    // Held while the first watch begins or the last ends, so that beginWatching and
    // endWatching alternate; never taken by a report.
    std::mutex watchingMutex;
    // Guards watches and nextWatch; held while the watches are called, so that
    // unwatchDevices waits for a call in progress.
    std::mutex watchesMutex;
    std::map<int, std::function<void()>> watches;
    int nextWatch = 1;
};

// The backend of the platform this program was built for.
std::unique_ptr<AudioPlatform> createSystemAudioPlatform();
