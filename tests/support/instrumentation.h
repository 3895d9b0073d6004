#pragma once

// What the test binary runs under. The sanitizers and valgrind keep freed memory aside for
// their checks, so the resident set no longer follows what the program holds (their own
// leak reports stand in); valgrind also runs every thread many times slower, one at a time.
namespace Instrumentation {

bool sanitized();
bool underValgrind();

inline bool residentSetTracksTheProgram()
{
    return !sanitized() && !underValgrind();
}

} // namespace Instrumentation
