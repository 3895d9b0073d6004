#include "core/addressform.h"

QString addressForm(const QHostAddress &address)
{
    if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        bool mapped = false;
        const quint32 ipv4 = address.toIPv4Address(&mapped);
        if (mapped)
            return QHostAddress(ipv4).toString();
    }
    return address.toString();
}
