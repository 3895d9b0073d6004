#include "net/localaddress.h"

#include <QHostAddress>
#include <QNetworkInterface>

QString localIPv4Address()
{
    const auto addresses = QNetworkInterface::allAddresses();
    for (const QHostAddress &address : addresses) {
        if (address.protocol() == QAbstractSocket::IPv4Protocol &&
            address != QHostAddress(QHostAddress::LocalHost))
            return address.toString();
    }
    return {};
}
