#pragma once

#include <QHostAddress>
#include <QList>
#include <vector>

class QNetworkInterface;

// What counts as this computer's own link at one moment: loopback, IPv6 link-local
// addresses, and the subnets and prefixes of its up interfaces. Only a host there may
// register or give commands; the rule mDNS responders apply to the queries they answer.
// Checks are plain arithmetic: nothing is allocated per datagram.
class LinkSnapshot
{
public:
    // The up interfaces of this computer, as they are now.
    static LinkSnapshot ofThisComputer();
    static LinkSnapshot of(const QList<QNetworkInterface> &interfaces);

    // An address of an up interface with its prefix length; a length the platform did not
    // report makes a subnet of that one address.
    void addInterfaceAddress(const QHostAddress &address, int prefixLength);

    bool isOnLink(const QHostAddress &sender) const;
    // One host: not unspecified, multicast, the limited broadcast or the broadcast of a
    // subnet in this snapshot. Only such an address may become a destination.
    bool isSingleHost(const QHostAddress &address) const;

private:
    struct Ipv4Subnet
    {
        quint32 network = 0;
        quint32 mask = 0;
    };
    struct Ipv6Prefix
    {
        Q_IPV6ADDR address{};
        int length = 0;
    };

    bool isSingleIpv4Host(quint32 address) const;

    std::vector<Ipv4Subnet> ipv4Subnets;
    std::vector<Ipv6Prefix> ipv6Prefixes;
};
