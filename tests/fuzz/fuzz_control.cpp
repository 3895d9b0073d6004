// Ports 8081 and 8082 take text datagrams from anyone on the network. One input is a run of
// datagrams from a few hundred possible senders, spaced out in time, applied to a device
// table as the core applies them. Whatever arrives, the table stays bounded with one record
// per address, our own name never registers, and every Quality the parser lets through is
// a bitrate the encoder can be given.
#include "core/addressform.h"
#include "core/controlprotocol.h"
#include "core/devicetable.h"

#include <QHostAddress>
#include <QSet>
#include <cstdint>
#include <cstdlib>
#include <fuzzer/FuzzedDataProvider.h>

namespace {

const QString ownName = QStringLiteral("kestrune-host");

// IPv4 senders arrive on the dual-stack sockets as mapped IPv6 addresses, a few as native
// IPv6 ones.
QHostAddress sender(std::uint16_t number)
{
    if (number % 16 == 15)
        return QHostAddress(QStringLiteral("fd00::%1").arg(number, 0, 16));
    return QHostAddress(QStringLiteral("::ffff:10.0.%1.%2").arg(number >> 8).arg(number & 0xFF));
}

void check(bool condition)
{
    if (!condition)
        std::abort();
}

void checkTable(const DeviceTable &devices)
{
    check(devices.size() <= DeviceTable::maxDevices);
    const QVariantList records = devices.toVariantList();
    QSet<QString> addresses;
    for (const QVariant &record : records)
        addresses.insert(record.toMap().value(QStringLiteral("ip")).toString());
    check(addresses.size() == records.size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    DeviceTable devices;
    qint64 now = 0;
    while (input.remaining_bytes() > 0) {
        const std::string text = input.ConsumeRandomLengthString(2048);
        const QString address =
            addressForm(sender(input.ConsumeIntegralInRange<std::uint16_t>(0, 300)));
        const ControlProtocol::Command command =
            ControlProtocol::parse(QByteArray(text.data(), qsizetype(text.size())), ownName);
        switch (command.kind) {
        case ControlProtocol::Command::Kind::Register:
            check(command.name != ownName);
            devices.registerDevice(address, command.name, now);
            break;
        case ControlProtocol::Command::Kind::Quality:
            check(command.bitrate >= 1000 && command.bitrate % 1000 == 0 &&
                  command.bitrate / 1000 <= ControlProtocol::maxQualityKbps);
            break;
        case ControlProtocol::Command::Kind::Disconnect:
            devices.unregisterDevice(address);
            break;
        case ControlProtocol::Command::Kind::Mute:
        case ControlProtocol::Command::Kind::Ignored:
            break;
        }
        now += input.ConsumeIntegralInRange<int>(0, 3000);
        if (input.ConsumeBool())
            devices.expire(now);
        checkTable(devices);
    }
    return 0;
}
