#pragma once

#include <functional>
#include <memory>
#include <pulse/pulseaudio.h>

// One connection to the sound server: a threaded main loop and a context that runs on it.
// A connection that failed stays failed; the platform replaces it with a new one.
//
// Every use of the context or of a stream on it happens with the main loop's lock held
// (PulseContext::Lock); callbacks run on the main loop's own thread with that lock held and
// only record results and signal.
class PulseContext
{
public:
    // How long any wait for the server may take, so that a server that stops answering
    // turns into a failure rather than a hang.
    static constexpr int replyTimeoutMs = 2000;

    // A new connected context, or null when no server answered in time.
    static std::shared_ptr<PulseContext> connect();
    ~PulseContext();
    PulseContext(const PulseContext &) = delete;
    PulseContext &operator=(const PulseContext &) = delete;

    class Lock
    {
    public:
        explicit Lock(PulseContext &context);
        ~Lock();
        Lock(const Lock &) = delete;
        Lock &operator=(const Lock &) = delete;

    private:
        pa_threaded_mainloop *mainloop;
    };

    pa_context *get() const { return context; }
    // Lock held: the connection is up.
    bool isReady() const;
    // Lock held: waits until done() holds, the connection fails or the timeout passes;
    // returns done().
    bool waitUntil(const std::function<bool()> &done, int timeoutMs = replyTimeoutMs);
    // Lock held: waits for the operation (taken over, may be null) to finish; cancels it
    // when it does not finish in time. True when it completed.
    bool complete(pa_operation *operation);
    // From a callback on the main loop's thread: wakes waitUntil.
    void signal();

private:
    PulseContext() = default;
    bool open();

    pa_threaded_mainloop *mainloop = nullptr;
    pa_context *context = nullptr;
    bool running = false;
};
