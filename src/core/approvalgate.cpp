#include "core/approvalgate.h"

#include <QVariantMap>
#include <algorithm>

ApprovalGate::ApprovalGate(qint64 silenceMs) : silenceMs(silenceMs) {}

bool ApprovalGate::setAsking(bool on, const QStringList &registered)
{
    if (on == asking)
        return false;
    asking = on;
    if (on) {
        for (const QString &address : registered)
            allowed.insert(address);
        return false;
    }
    const bool hadPending = !pending.empty();
    pending.clear();
    return hadPending;
}

ApprovalGate::Verdict ApprovalGate::verdict(const QString &address) const
{
    if (blocked.contains(address))
        return Verdict::Ignore;
    if (!asking || allowed.contains(address))
        return Verdict::Register;
    return Verdict::Ask;
}

bool ApprovalGate::acceptsCommandsFrom(const QString &address) const
{
    return verdict(address) == Verdict::Register;
}

std::vector<ApprovalGate::Pending>::iterator ApprovalGate::findPending(const QString &address)
{
    return std::find_if(pending.begin(), pending.end(),
                        [&address](const Pending &entry) { return entry.address == address; });
}

bool ApprovalGate::refreshPending(const QString &address, qint64 now)
{
    const auto entry = findPending(address);
    if (entry == pending.end())
        return false;
    entry->lastHello = now;
    return true;
}

void ApprovalGate::addPending(const QString &address, const QString &name, qint64 now)
{
    if (int(pending.size()) >= maxPending)
        pending.erase(pending.begin());
    pending.push_back({address, name, now});
}

std::optional<QString> ApprovalGate::allow(const QString &address)
{
    const auto entry = findPending(address);
    if (entry == pending.end())
        return std::nullopt;
    const QString name = entry->name;
    pending.erase(entry);
    allowed.insert(address);
    return name;
}

bool ApprovalGate::block(const QString &address)
{
    blocked.insert(address);
    allowed.remove(address);
    const auto entry = findPending(address);
    if (entry == pending.end())
        return false;
    pending.erase(entry);
    return true;
}

bool ApprovalGate::expire(qint64 now)
{
    const auto silent =
        std::remove_if(pending.begin(), pending.end(), [this, now](const Pending &entry) {
            return now - entry.lastHello > silenceMs;
        });
    const bool changed = silent != pending.end();
    pending.erase(silent, pending.end());
    return changed;
}

QVariantList ApprovalGate::pendingList() const
{
    QVariantList list;
    list.reserve(qsizetype(pending.size()));
    for (const Pending &entry : pending)
        list.append(QVariantMap{{QStringLiteral("name"), entry.name},
                                {QStringLiteral("ip"), entry.address}});
    return list;
}
