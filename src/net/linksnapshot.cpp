#include "net/linksnapshot.h"

#include <QNetworkInterface>

namespace {

quint32 ipv4Mask(int prefixLength)
{
    return prefixLength <= 0 ? 0 : ~quint32(0) << (32 - std::min(prefixLength, 32));
}

bool samePrefix(const Q_IPV6ADDR &a, const Q_IPV6ADDR &b, int length)
{
    for (int byte = 0; length > 0; ++byte, length -= 8) {
        const quint8 mask = length >= 8 ? 0xFF : quint8(0xFF << (8 - length));
        if ((a[byte] & mask) != (b[byte] & mask))
            return false;
    }
    return true;
}

bool isZero(const Q_IPV6ADDR &address)
{
    for (quint8 byte : address.c) {
        if (byte != 0)
            return false;
    }
    return true;
}

bool isIpv6Loopback(const Q_IPV6ADDR &address)
{
    for (int i = 0; i < 15; ++i) {
        if (address[i] != 0)
            return false;
    }
    return address[15] == 1;
}

} // namespace

LinkSnapshot LinkSnapshot::ofThisComputer()
{
    return of(QNetworkInterface::allInterfaces());
}

LinkSnapshot LinkSnapshot::of(const QList<QNetworkInterface> &interfaces)
{
    LinkSnapshot snapshot;
    for (const QNetworkInterface &interface : interfaces) {
        if (!interface.flags().testFlag(QNetworkInterface::IsUp))
            continue;
        const QList<QNetworkAddressEntry> entries = interface.addressEntries();
        for (const QNetworkAddressEntry &entry : entries)
            snapshot.addInterfaceAddress(entry.ip(), entry.prefixLength());
    }
    return snapshot;
}

void LinkSnapshot::addInterfaceAddress(const QHostAddress &address, int prefixLength)
{
    bool isIpv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIpv4);
    if (isIpv4) {
        const quint32 mask = ipv4Mask(prefixLength < 0 ? 32 : prefixLength);
        ipv4Subnets.push_back({ipv4 & mask, mask});
    } else if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        ipv6Prefixes.push_back({address.toIPv6Address(), prefixLength < 0 ? 128 : prefixLength});
    }
}

bool LinkSnapshot::isSingleIpv4Host(quint32 address) const
{
    // 0.0.0.0/8 is "this network", 224.0.0.0/4 multicast, 255.255.255.255 everyone.
    if ((address >> 24) == 0 || (address >> 28) == 0xE || address == 0xFFFFFFFF)
        return false;
    for (const Ipv4Subnet &subnet : ipv4Subnets) {
        // A /31 or /32 has no broadcast address: both of a /31's addresses are hosts.
        if (subnet.mask < 0xFFFFFFFE && address == (subnet.network | ~subnet.mask))
            return false;
    }
    return true;
}

bool LinkSnapshot::isSingleHost(const QHostAddress &address) const
{
    bool isIpv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIpv4);
    if (isIpv4)
        return isSingleIpv4Host(ipv4);
    if (address.protocol() != QAbstractSocket::IPv6Protocol)
        return false;
    const Q_IPV6ADDR ipv6 = address.toIPv6Address();
    return !isZero(ipv6) && ipv6[0] != 0xFF;
}

bool LinkSnapshot::isOnLink(const QHostAddress &sender) const
{
    if (!isSingleHost(sender))
        return false;
    bool isIpv4 = false;
    const quint32 ipv4 = sender.toIPv4Address(&isIpv4);
    if (isIpv4) {
        if ((ipv4 >> 24) == 127)
            return true;
        for (const Ipv4Subnet &subnet : ipv4Subnets) {
            if ((ipv4 & subnet.mask) == subnet.network)
                return true;
        }
        return false;
    }
    const Q_IPV6ADDR ipv6 = sender.toIPv6Address();
    // ::1, and fe80::/10, which never leaves the link it was sent on.
    if (isIpv6Loopback(ipv6) || (ipv6[0] == 0xFE && (ipv6[1] & 0xC0) == 0x80))
        return true;
    for (const Ipv6Prefix &prefix : ipv6Prefixes) {
        if (samePrefix(ipv6, prefix.address, prefix.length))
            return true;
    }
    return false;
}
