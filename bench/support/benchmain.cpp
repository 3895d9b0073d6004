#include "benchmain.h"

#include "support/netns.h"

#include <QCoreApplication>

#include <cstdio>

namespace BenchMain {

QString option(const QString &name, const QString &fallback)
{
    const QStringList arguments = QCoreApplication::arguments();
    const int at = arguments.indexOf(name);
    return at > 0 && at + 1 < arguments.size() ? arguments.at(at + 1) : fallback;
}

bool inPrivateNetwork()
{
    const QString why = TestNetwork::whyNotPrivate();
    if (why.isEmpty())
        return true;
    std::fprintf(stderr, "refusing to run outside a private network namespace: %s\n",
                 qPrintable(why));
    return false;
}

} // namespace BenchMain
