#pragma once

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <functional>

class QHostInfo;

// The addresses of what the user typed as a server: an IP address is its own answer, given
// at once; a host name goes to the system's resolver and is answered later on this thread,
// without blocking it. One lookup at a time: a new one, cancel() and destruction drop the
// one under way, whose answer then never comes.
class HostResolver : public QObject
{
    Q_OBJECT

public:
    // Empty when the name could not be resolved.
    using Answer = std::function<void(const QList<QHostAddress> &addresses)>;

    explicit HostResolver(QObject *parent = nullptr);
    ~HostResolver() override;

    void resolve(const QString &host, Answer answer);
    void cancel();

private slots:
    // A slot by name: a lookup given a functor and then aborted leaks the functor's holder
    // (Qt 6.4), and every lookup of a destroyed resolver is aborted.
    void looked(const QHostInfo &info);

private:
    int lookupId = -1;
    Answer pendingAnswer;
};
