#include "soakpeer.h"

#include "core/controlprotocol.h"

#include <QNetworkProxy>

SoakPeer::SoakPeer(const QString &address, QObject *parent) : QObject(parent), address(address)
{
    audio.setProxy(QNetworkProxy::NoProxy);
    control.setProxy(QNetworkProxy::NoProxy);
    const auto sharing = QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint;
    isBound = audio.bind(QHostAddress(address), ControlProtocol::audioPort, sharing) &&
              control.bind(QHostAddress(address), ControlProtocol::controlPort, sharing);
    connect(&audio, &QUdpSocket::readyRead, this, [this] {
        while (audio.hasPendingDatagrams()) {
            audio.readDatagram(nullptr, 0); // counted, not kept
            ++received;
        }
    });
    connect(&helloTimer, &QTimer::timeout, this,
            [this] { send(ControlProtocol::hello("soak " + this->address)); });
    sinceChange.start();
}

void SoakPeer::enter(State state)
{
    current = state;
    sinceChange.restart();
}

void SoakPeer::join()
{
    if (current == State::Present)
        return;
    enter(State::Present);
    send(ControlProtocol::hello("soak " + address));
    helloTimer.start(2000);
}

void SoakPeer::leave()
{
    helloTimer.stop();
    send(QByteArrayLiteral("Kestrune-Cmd|Disconnect"));
    enter(State::Away);
}

void SoakPeer::fallSilent()
{
    if (current != State::Present)
        return;
    helloTimer.stop();
    enter(State::Silent);
}

void SoakPeer::send(const QByteArray &payload)
{
    control.writeDatagram(payload, QHostAddress(QHostAddress::LocalHost),
                          ControlProtocol::controlPort);
}
