#include "routedneighbour.h"

#include <QElapsedTimer>
#include <QThread>
#include <sys/stat.h>

namespace {

bool ip(const QStringList &arguments)
{
    return QProcess::execute(QStringLiteral("ip"), arguments) == 0;
}

// The network namespace a process is in, by its inode; 0 when it cannot be read.
ino_t namespaceOf(const QString &pid)
{
    struct stat status;
    const QByteArray path = QStringLiteral("/proc/%1/ns/net").arg(pid).toLocal8Bit();
    return ::stat(path.constData(), &status) == 0 ? status.st_ino : 0;
}

} // namespace

RoutedNeighbour::~RoutedNeighbour()
{
    // Either end takes the pair with it, at once; a namespace that ends frees its
    // interfaces only later.
    if (holder.state() != QProcess::NotRunning)
        ip({"link", "del", "kth0"});
    holder.kill();
    holder.waitForFinished(5000);
}

QString RoutedNeighbour::create()
{
    holder.start(QStringLiteral("unshare"), {"--net", "--", "sleep", "600"});
    if (!holder.waitForStarted(5000))
        return QStringLiteral("unshare cannot be started");
    // unshare makes the namespace a moment after it starts.
    const QString pid = QString::number(holder.processId());
    const ino_t ours = namespaceOf(QStringLiteral("self"));
    QElapsedTimer waited;
    waited.start();
    while (namespaceOf(pid) == ours && waited.elapsed() < 5000)
        QThread::msleep(10);
    if (namespaceOf(pid) == ours)
        return QStringLiteral("the neighbour namespace did not appear");

    if (!ip({"link", "add", "kth0", "type", "veth", "peer", "name", "kth1"}) ||
        !ip({"link", "set", "kth1", "netns", pid}))
        return QStringLiteral("the veth pair cannot be made");
    if (!inNeighbour({"ip", "link", "set", "lo", "up"}) ||
        !inNeighbour(
            {"ip", "addr", "add", QStringLiteral("%1/24").arg(onLinkAddress), "dev", "kth1"}) ||
        !inNeighbour({"ip", "link", "set", "kth1", "up"}) ||
        // Its own network needs no interface of its own: its loopback holds the address.
        !inNeighbour(
            {"ip", "addr", "add", QStringLiteral("%1/32").arg(offLinkAddress), "dev", "lo"}))
        return QStringLiteral("the neighbour's interfaces cannot be set up");
    if (!ip({"addr", "add", QStringLiteral("%1/24").arg(ourAddress), "dev", "kth0"}) ||
        !ip({"link", "set", "kth0", "up"}) ||
        !ip({"route", "add", "10.99.0.0/24", "via", onLinkAddress, "dev", "kth0"}))
        return QStringLiteral("our end of the link cannot be set up");
    return {};
}

bool RoutedNeighbour::inNeighbour(const QStringList &command)
{
    return run(command.first(), command.mid(1)) == 0;
}

int RoutedNeighbour::run(const QString &program, const QStringList &arguments)
{
    return QProcess::execute(
        QStringLiteral("nsenter"),
        QStringList{"-t", QString::number(holder.processId()), "-n", "--", program} + arguments);
}
