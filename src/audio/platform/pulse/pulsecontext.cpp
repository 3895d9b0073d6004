#include "audio/platform/pulse/pulsecontext.h"

namespace {

void wakeWaiters(void *mainloop)
{
    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop *>(mainloop), 0);
}

void onContextState(pa_context *, void *mainloop)
{
    wakeWaiters(mainloop);
}

void onOperationState(pa_operation *, void *mainloop)
{
    wakeWaiters(mainloop);
}

struct Deadline
{
    pa_threaded_mainloop *mainloop;
    bool passed = false;
};

void onDeadline(pa_mainloop_api *, pa_time_event *, const struct timeval *, void *userdata)
{
    auto *deadline = static_cast<Deadline *>(userdata);
    deadline->passed = true;
    wakeWaiters(deadline->mainloop);
}

} // namespace

std::shared_ptr<PulseContext> PulseContext::connect()
{
    std::shared_ptr<PulseContext> connection(new PulseContext);
    if (!connection->open())
        return {};
    return connection;
}

bool PulseContext::open()
{
    mainloop = pa_threaded_mainloop_new();
    if (!mainloop)
        return false;
    context = pa_context_new(pa_threaded_mainloop_get_api(mainloop), "KestruneServer");
    if (!context)
        return false;
    pa_context_set_state_callback(context, onContextState, mainloop);
    if (pa_threaded_mainloop_start(mainloop) < 0)
        return false;
    running = true;

    Lock lock(*this);
    // Never start a sound server of our own: where none runs, the program has no sound.
    if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        return false;
    return waitUntil([this] { return pa_context_get_state(context) == PA_CONTEXT_READY; });
}

PulseContext::~PulseContext()
{
    if (context) {
        if (running)
            pa_threaded_mainloop_lock(mainloop);
        pa_context_set_state_callback(context, nullptr, nullptr);
        pa_context_disconnect(context);
        pa_context_unref(context);
        if (running)
            pa_threaded_mainloop_unlock(mainloop);
    }
    if (mainloop) {
        if (running)
            pa_threaded_mainloop_stop(mainloop);
        pa_threaded_mainloop_free(mainloop);
    }
}

PulseContext::Lock::Lock(PulseContext &context) : mainloop(context.mainloop)
{
    pa_threaded_mainloop_lock(mainloop);
}

PulseContext::Lock::~Lock()
{
    pa_threaded_mainloop_unlock(mainloop);
}

bool PulseContext::isReady() const
{
    return pa_context_get_state(context) == PA_CONTEXT_READY;
}

bool PulseContext::waitUntil(const std::function<bool()> &done, int timeoutMs)
{
    Deadline deadline{mainloop};
    pa_time_event *timer = pa_context_rttime_new(
        context, pa_rtclock_now() + pa_usec_t(timeoutMs) * PA_USEC_PER_MSEC, onDeadline, &deadline);
    if (!timer)
        return done();
    while (!done() && !deadline.passed && PA_CONTEXT_IS_GOOD(pa_context_get_state(context)))
        pa_threaded_mainloop_wait(mainloop);
    pa_threaded_mainloop_get_api(mainloop)->time_free(timer);
    return done();
}

bool PulseContext::complete(pa_operation *operation)
{
    if (!operation)
        return false;
    pa_operation_set_state_callback(operation, onOperationState, mainloop);
    waitUntil([operation] { return pa_operation_get_state(operation) != PA_OPERATION_RUNNING; });
    const bool done = pa_operation_get_state(operation) == PA_OPERATION_DONE;
    if (!done)
        pa_operation_cancel(operation);
    pa_operation_set_state_callback(operation, nullptr, nullptr);
    pa_operation_unref(operation);
    return done;
}

void PulseContext::signal()
{
    wakeWaiters(mainloop);
}
