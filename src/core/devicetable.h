#pragma once

#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QtGlobal>
#include <vector>

// The devices heard from on the local network, in order of first registration, keyed by
// their address form. Time is a monotonic millisecond count given by the caller, so a
// change of the wall clock neither keeps a silent device nor drops a live one.
class DeviceTable
{
public:
    static constexpr qint64 defaultExpiryMs = 6000;
    // A flood of spoofed hellos must not make the stream go to any number of hosts.
    static constexpr int maxDevices = 256;

    enum class Registration
    {
        Added,
        Refreshed,
        Refused
    };

    explicit DeviceTable(qint64 expiryMs = defaultExpiryMs);

    // Refreshes a known address, or appends a new record (volume 100, latency 0) while
    // there is room; a known address keeps its first name.
    Registration registerDevice(const QString &address, const QString &name, qint64 now);
    // Refreshes a known address; false when it has no record.
    bool refresh(const QString &address, qint64 now);
    // True when a record was removed.
    bool unregisterDevice(const QString &address);
    // Removes every record silent for more than the expiry time and returns their
    // addresses, last registered first.
    QStringList expire(qint64 now);
    // True when the address has a record.
    bool setVolume(const QString &address, int volume);

    int size() const { return int(records.size()); }
    QStringList addresses() const;
    // One map per record with the keys "name", "ip", "volume" and "latency".
    QVariantList toVariantList() const;

private:
    struct Record
    {
        QString name;
        QString address;
        int volume = 100;
        qint64 lastSeen = 0;
    };

    std::vector<Record>::iterator find(const QString &address);

    qint64 expiryMs;
    std::vector<Record> records;
};
