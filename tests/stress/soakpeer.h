#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QUdpSocket>

// A phone of the soak test on a loopback address of its own. It registers and keeps its
// registration up, leaves with a Disconnect, or falls silent and waits to be expired, as it
// is told; it counts the audio datagrams that reach it, without keeping them.
class SoakPeer : public QObject
{
    Q_OBJECT

public:
    enum class State
    {
        Away,    // never registered, or said Disconnect
        Present, // says hello every 2 s
        Silent,  // stopped saying hello without a Disconnect
    };

    explicit SoakPeer(const QString &address, QObject *parent = nullptr);

    bool bound() const { return isBound; }
    State state() const { return current; }
    // Time since the last change of state.
    qint64 inStateMs() const { return sinceChange.elapsed(); }
    qint64 datagrams() const { return received; }

    void join();
    void leave();
    void fallSilent();
    // One datagram to the core's port 8081.
    void send(const QByteArray &payload);

    const QString address;

private:
    void enter(State state);

    QUdpSocket audio;
    QUdpSocket control;
    QTimer helloTimer;
    QElapsedTimer sinceChange;
    State current = State::Away;
    qint64 received = 0;
    bool isBound = false;
};
