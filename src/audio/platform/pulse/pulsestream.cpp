#include "audio/platform/pulse/pulsestream.h"

#include "audio/platform/pulse/pulsecontext.h"

PulseStream::PulseStream(std::shared_ptr<PulseContext> context, const char *name,
                         const pa_sample_spec &spec, std::function<void()> stateChanged)
    : connection(std::move(context)), stateChanged(std::move(stateChanged)),
      stream(pa_stream_new(connection->get(), name, &spec, nullptr))
{
    if (stream)
        pa_stream_set_state_callback(stream, onState, this);
}

PulseStream::~PulseStream()
{
    if (!stream)
        return;
    PulseContext::Lock lock(*connection);
    pa_stream_set_state_callback(stream, nullptr, nullptr);
    pa_stream_set_read_callback(stream, nullptr, nullptr);
    pa_stream_set_write_callback(stream, nullptr, nullptr);
    if (pa_stream_get_state(stream) != PA_STREAM_UNCONNECTED)
        pa_stream_disconnect(stream);
    pa_stream_unref(stream);
}

void PulseStream::onState(pa_stream *, void *self)
{
    auto *owner = static_cast<PulseStream *>(self);
    owner->connection->signal();
    if (owner->stateChanged)
        owner->stateChanged();
}

bool PulseStream::waitUntilReady()
{
    connection->waitUntil([this] {
        const pa_stream_state_t state = pa_stream_get_state(stream);
        return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
    });
    return isReady();
}

bool PulseStream::isReady() const
{
    return stream && connection->isReady() && pa_stream_get_state(stream) == PA_STREAM_READY;
}

bool PulseStream::cork(bool paused)
{
    PulseContext::Lock lock(*connection);
    if (!isReady())
        return false;
    bool succeeded = false;
    const auto onDone = [](pa_stream *, int success, void *result) {
        *static_cast<bool *>(result) = success != 0;
    };
    return connection->complete(pa_stream_cork(stream, paused ? 1 : 0, onDone, &succeeded)) &&
           succeeded;
}
