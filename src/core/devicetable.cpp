#include "core/devicetable.h"

#include <QVariantMap>
#include <algorithm>

DeviceTable::DeviceTable(qint64 expiryMs) : expiryMs(expiryMs) {}

std::vector<DeviceTable::Record>::iterator DeviceTable::find(const QString &address)
{
    return std::find_if(records.begin(), records.end(),
                        [&address](const Record &record) { return record.address == address; });
}

bool DeviceTable::refresh(const QString &address, qint64 now)
{
    const auto known = find(address);
    if (known == records.end())
        return false;
    known->lastSeen = now;
    return true;
}

DeviceTable::Registration DeviceTable::registerDevice(const QString &address, const QString &name,
                                                      qint64 now)
{
    if (refresh(address, now))
        return Registration::Refreshed;
    if (size() >= maxDevices)
        return Registration::Refused;
    records.push_back(Record{name, address, 100, now});
    return Registration::Added;
}

bool DeviceTable::unregisterDevice(const QString &address)
{
    const auto known = find(address);
    if (known == records.end())
        return false;
    records.erase(known);
    return true;
}

QStringList DeviceTable::expire(qint64 now)
{
    QStringList expired;
    for (auto record = records.rbegin(); record != records.rend(); ++record) {
        if (now - record->lastSeen > expiryMs)
            expired.append(record->address);
    }
    if (!expired.isEmpty()) {
        records.erase(std::remove_if(records.begin(), records.end(),
                                     [this, now](const Record &record) {
                                         return now - record.lastSeen > expiryMs;
                                     }),
                      records.end());
    }
    return expired;
}

bool DeviceTable::setVolume(const QString &address, int volume)
{
    const auto known = find(address);
    if (known == records.end())
        return false;
    known->volume = volume;
    return true;
}

QStringList DeviceTable::addresses() const
{
    QStringList list;
    for (const Record &record : records)
        list.append(record.address);
    return list;
}

QVariantList DeviceTable::toVariantList() const
{
    QVariantList list;
    list.reserve(int(records.size()));
    for (const Record &record : records) {
        list.append(QVariantMap{{QStringLiteral("name"), record.name},
                                {QStringLiteral("ip"), record.address},
                                {QStringLiteral("volume"), record.volume},
                                {QStringLiteral("latency"), 0}});
    }
    return list;
}
