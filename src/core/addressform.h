#pragma once

#include <QHostAddress>
#include <QString>

// The text that keys a device: the sender's address, with the IPv4-mapped IPv6 addresses
// that dual-stack sockets report for IPv4 senders written as dotted IPv4.
QString addressForm(const QHostAddress &address);
