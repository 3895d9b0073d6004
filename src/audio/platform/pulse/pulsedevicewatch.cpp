#include "audio/platform/pulse/pulsedevicewatch.h"

namespace {

PulseDeviceWatch &watchOf(void *userdata)
{
    return *static_cast<PulseDeviceWatch *>(userdata);
}

} // namespace

PulseDeviceWatch::PulseDeviceWatch(std::function<void()> changed) : changed(std::move(changed))
{
    mainloop = pa_threaded_mainloop_new();
    if (!mainloop)
        return;
    pa_threaded_mainloop_lock(mainloop);
    connect();
    pa_threaded_mainloop_unlock(mainloop);
    if (pa_threaded_mainloop_start(mainloop) < 0) {
        pa_threaded_mainloop_lock(mainloop);
        dropContext();
        pa_threaded_mainloop_unlock(mainloop);
        pa_threaded_mainloop_free(mainloop);
        mainloop = nullptr;
    }
}

PulseDeviceWatch::~PulseDeviceWatch()
{
    if (!mainloop)
        return;
    pa_threaded_mainloop_lock(mainloop);
    if (retry)
        pa_threaded_mainloop_get_api(mainloop)->time_free(retry);
    dropContext();
    pa_threaded_mainloop_unlock(mainloop);
    pa_threaded_mainloop_stop(mainloop);
    pa_threaded_mainloop_free(mainloop);
}

void PulseDeviceWatch::connect()
{
    context = pa_context_new(pa_threaded_mainloop_get_api(mainloop), "KestruneServer");
    if (!context) {
        scheduleRetry();
        return;
    }
    pa_context_set_state_callback(context, onContextState, this);
    // Never start a sound server of our own, as for the program's other connection.
    if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        dropContext();
        scheduleRetry();
    }
}

void PulseDeviceWatch::scheduleRetry()
{
    if (retryPending)
        return;
    pa_mainloop_api *api = pa_threaded_mainloop_get_api(mainloop);
    timeval when;
    pa_timeval_add(pa_gettimeofday(&when), pa_usec_t(retryMs) * PA_USEC_PER_MSEC);
    if (retry)
        api->time_restart(retry, &when);
    else
        retry = api->time_new(api, &when, onRetry, this);
    retryPending = retry != nullptr;
}

void PulseDeviceWatch::dropContext()
{
    if (!context)
        return;
    pa_context_set_state_callback(context, nullptr, nullptr);
    pa_context_set_subscribe_callback(context, nullptr, nullptr);
    pa_context_disconnect(context);
    pa_context_unref(context);
    context = nullptr;
}

void PulseDeviceWatch::onContextState(pa_context *context, void *userdata)
{
    PulseDeviceWatch &watch = watchOf(userdata);
    switch (pa_context_get_state(context)) {
    case PA_CONTEXT_READY: {
        pa_context_set_subscribe_callback(context, onEvent, userdata);
        pa_operation *operation = pa_context_subscribe(
            context,
            pa_subscription_mask_t(PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SERVER),
            onSubscribed, userdata);
        if (operation)
            pa_operation_unref(operation);
        break;
    }
    case PA_CONTEXT_FAILED:
    case PA_CONTEXT_TERMINATED:
        // The context is dropped by the retry, not inside its own callback.
        if (watch.subscribed) {
            watch.subscribed = false;
            watch.changed();
        }
        watch.scheduleRetry();
        break;
    default:
        break;
    }
}

void PulseDeviceWatch::onSubscribed(pa_context *, int success, void *userdata)
{
    PulseDeviceWatch &watch = watchOf(userdata);
    if (!success)
        return;
    // Whatever happened while no one listened, the lists must be read again now.
    watch.subscribed = true;
    watch.changed();
}

void PulseDeviceWatch::onEvent(pa_context *, pa_subscription_event_type_t, std::uint32_t,
                               void *userdata)
{
    watchOf(userdata).changed();
}

void PulseDeviceWatch::onRetry(pa_mainloop_api *, pa_time_event *, const struct timeval *,
                               void *userdata)
{
    PulseDeviceWatch &watch = watchOf(userdata);
    watch.retryPending = false;
    watch.dropContext();
    watch.connect();
}
