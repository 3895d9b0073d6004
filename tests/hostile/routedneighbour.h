#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// A second network namespace joined to the test's own by a veth pair: the link between
// them is 10.213.7.0/24 (this namespace .1, the neighbour .2), and behind the neighbour lies
// a network of its own, 10.99.0.0/24 (the neighbour .1), that this namespace reaches through
// it. So the neighbour can send from an on-link and from an off-link address. Both
// namespaces live inside the test's private one: nothing leaves the machine.
class RoutedNeighbour
{
public:
    static constexpr const char *ourAddress = "10.213.7.1";
    static constexpr const char *onLinkAddress = "10.213.7.2";
    static constexpr const char *offLinkAddress = "10.99.0.1";

    RoutedNeighbour() = default;
    ~RoutedNeighbour();
    RoutedNeighbour(const RoutedNeighbour &) = delete;
    RoutedNeighbour &operator=(const RoutedNeighbour &) = delete;

    // Empty when the namespaces stand; otherwise what failed.
    QString create();
    // Runs a program in the neighbour's namespace; its exit code, or -1.
    int run(const QString &program, const QStringList &arguments);

private:
    bool inNeighbour(const QStringList &command);

    QProcess holder; // the neighbour namespace's only process, until it is killed
};
