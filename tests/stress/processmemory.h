#pragma once

#include <QtGlobal>

namespace ProcessMemory {

// This process's resident set, in bytes; -1 when it cannot be read.
qint64 residentBytes();

// Whether the resident set follows what the program holds. The address and thread
// sanitizers keep freed memory aside for their checks, so under them it does not (their
// leak and race reports stand in).
constexpr bool residentSetTracksTheProgram()
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
    return false;
#else
    return true;
#endif
#else
    return true;
#endif
}

} // namespace ProcessMemory
