#include "instrumentation.h"

#include <QByteArray>

bool Instrumentation::sanitized()
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
    return true;
#endif
#endif
    return false;
}

bool Instrumentation::underValgrind()
{
    // Valgrind preloads its own helpers into the program it runs.
    return qgetenv("LD_PRELOAD").contains("vgpreload");
}
