#pragma once

#include <functional>
#include <memory>
#include <pulse/pulseaudio.h>

class PulseContext;

// Owns one pa_stream on a connection: waiters hear its state changes, and it is
// disconnected and freed (with its callbacks cleared) on destruction. Not movable: the
// callbacks hold its address.
class PulseStream
{
public:
    // Lock held. stateChanged, when given, also runs on every state change (on the main
    // loop's thread).
    PulseStream(std::shared_ptr<PulseContext> context, const char *name, const pa_sample_spec &spec,
                std::function<void()> stateChanged = {});
    ~PulseStream();
    PulseStream(const PulseStream &) = delete;
    PulseStream &operator=(const PulseStream &) = delete;

    PulseContext &context() const { return *connection; }
    pa_stream *get() const { return stream; }
    // Lock held, after a connect call: waits until the stream runs or fails.
    bool waitUntilReady();
    // Lock held: the stream and its connection are up.
    bool isReady() const;
    // Pauses or resumes the stream; takes the lock itself.
    bool cork(bool paused);

private:
    static void onState(pa_stream *, void *self);

    std::shared_ptr<PulseContext> connection;
    std::function<void()> stateChanged;
    pa_stream *stream = nullptr;
};
