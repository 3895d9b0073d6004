#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>

// One running copy of the program per user: the first start holds a lock file in the
// user's runtime directory and listens on a local socket beside it; a later start finds the
// lock taken, knocks on that socket so the first one comes to the front, and goes away
// without touching anything else (in particular the UDP ports, which belong to the first).
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    // directory: where the lock and the socket live; one per user (see userDirectory()).
    explicit SingleInstance(const QString &directory, QObject *parent = nullptr);

    // The directory only this user writes to: the runtime directory on Linux
    // ($XDG_RUNTIME_DIR), the user's temporary directory on Windows.
    static QString userDirectory();

    // True when this process is now the running instance; false when another one holds the
    // lock, which has then been asked to come to the front (or could not be reached within
    // a short while, and is left alone).
    bool claim();

signals:
    // A later start knocked: bring the window to the front.
    void activationRequested();

private:
    void listen();
    void knock();

    QString socketName;
    QLockFile lock;
    QLocalServer server;
};
