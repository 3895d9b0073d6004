#pragma once

#include <cstdint>
#include <functional>
#include <pulse/pulseaudio.h>

// Listens to the sound server for sinks that come, go or change and for a new default
// sink, and notices the server itself going away and coming back; each is reported through
// changed. A server that cannot be reached is tried again every retryMs, quietly.
//
// It runs on a threaded main loop of its own that lives as long as the object; changed is
// called on that loop's thread, so it must return quickly and never wait for the caller of
// the destructor.
class PulseDeviceWatch
{
public:
    static constexpr int retryMs = 2000;

    explicit PulseDeviceWatch(std::function<void()> changed);
    ~PulseDeviceWatch();
    PulseDeviceWatch(const PulseDeviceWatch &) = delete;
    PulseDeviceWatch &operator=(const PulseDeviceWatch &) = delete;

private:
    static void onContextState(pa_context *context, void *watch);
    static void onSubscribed(pa_context *context, int success, void *watch);
    static void onEvent(pa_context *context, pa_subscription_event_type_t type, std::uint32_t index,
                        void *watch);
    static void onRetry(pa_mainloop_api *api, pa_time_event *event, const struct timeval *time,
                        void *watch);

    // Everything below runs on the main loop's thread, or with its lock held.
    void connect();
    void scheduleRetry();
    void dropContext();

    const std::function<void()> changed;
    pa_threaded_mainloop *mainloop = nullptr;
    pa_context *context = nullptr;
    pa_time_event *retry = nullptr;
    bool retryPending = false;
    bool subscribed = false; // the server was listening to us: losing it is a change
};
