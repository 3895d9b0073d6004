#pragma once

#include <QString>

// What the benchmarks' main functions share.
namespace BenchMain {

// The value after name among the application's arguments, or fallback.
QString option(const QString &name, const QString &fallback);
// True inside a private network namespace; otherwise says on stderr why not, and the
// benchmark must not open a socket.
bool inPrivateNetwork();

} // namespace BenchMain
