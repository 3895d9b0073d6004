#pragma once

#include <QtGlobal>

namespace ProcessMemory {

// This process's resident set, in bytes; -1 when it cannot be read.
qint64 residentBytes();

} // namespace ProcessMemory
