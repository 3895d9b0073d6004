#pragma once

#include "audio/wasapicapture.h"
#include "core/capturelatencymeter.h"
#include "core/frameassembler.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

class OpusCodec;
class UdpSocket;

// The sending path of server mode: what an output device plays, captured, cut into 10 ms
// frames, encoded and sent behind the datagram header to every target of the stream socket.
// start, stop and setBitrate belong to the GUI thread; everything between the capture and the
// socket runs on the capture thread.
class StreamSender
{
public:
    // socket sends every datagram to its targets; the caller keeps it alive and keeps its
    // targets (the phones) up to date.
    explicit StreamSender(UdpSocket &socket);
    ~StreamSender();
    StreamSender(const StreamSender &) = delete;
    StreamSender &operator=(const StreamSender &) = delete;

    // Captures the device with this id (empty: the default output) from a fresh stream:
    // the sequence starts again at 0. False when the capture cannot start.
    bool start(const QString &deviceId);
    // Returns once the capture thread has ended.
    void stop();
    // Re-creates the encoder, also while the capture thread encodes with it.
    void setBitrate(int bitsPerSecond);
    // The capture's switches (see WasapiCapture), on from construction as the settings'
    // defaults are; they take effect at once, also while streaming.
    void setEventSync(bool enabled);
    void setContinuousCapture(bool enabled);
    bool eventSync() const;
    bool continuousCapture() const;
    // From the capture to the send, in milliseconds (see CaptureLatencyMeter); 0 while
    // stopped.
    int captureLatencyMs() const { return latency.latencyMs(); }

private:
    void onCapturedAudio(const float *samples, std::uint64_t frameCount,
                         CaptureClock::time_point mixed);
    void sendFrame(const std::int16_t *frame);

    UdpSocket &socket; // its targets are guarded by the socket's own targets lock
    std::unique_ptr<WasapiCapture> capture;
    // Shared by the capture thread (encode) and the GUI thread (setBitrate); serialised by
    // the codec's own encoder lock.
    std::unique_ptr<OpusCodec> encoder;

    // Capture thread only while the capture runs; reset by start before the thread exists.
    // Sized at construction, so that no frame allocates.
    FrameAssembler pendingSamples;
    CaptureLatencyMeter latency; // read by any thread, see its own comment
    std::uint32_t sequenceNumber = 0;
    std::vector<unsigned char> packet; // one encoded frame
    QByteArray datagram;               // header and packet
};
