#pragma once

#include <pulse/pulseaudio.h>
#include <vector>

// The answer to a question about a list: the server calls back once per item, then once
// more at the end, or with an error.
template <typename Item> struct PulseListReply
{
    std::vector<Item> items;
    bool failed = false;

    // For the list callback: true when info is one more item, which the caller appends.
    bool takes(const void *info, int eol)
    {
        if (eol < 0)
            failed = true;
        return eol == 0 && info;
    }
};

// The callback of a command: stores in the bool given as userdata whether the server
// carried it out.
inline void onPulseSuccess(pa_context *, int success, void *succeeded)
{
    *static_cast<bool *>(succeeded) = success != 0;
}
