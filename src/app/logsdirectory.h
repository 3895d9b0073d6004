#pragma once

#include <QString>

// The folder that holds the program's log and that the Settings page opens: the
// application-local data location (~/.local/share/<program>/Logs on Linux,
// %LOCALAPPDATA%\<program>\Logs on Windows). Created when missing; when it cannot be
// created the path is returned all the same, and writing into it fails.
// Absolute, with '/' separators.
QString logsDirectory();

// The framework learns the program's name (which the data location contains) from the
// application object; the log handler needs it before that object exists, for the
// messages of its very construction. Names the program from argv[0] ahead of time, as
// the framework itself would later.
void nameProgramEarly(const char *argv0);
