#pragma once

#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QtGlobal>
#include <optional>
#include <vector>

// Whether a phone that says hello may receive the stream, when the user wants to be asked
// first. While asking is on, an address not allowed in this run waits as a pending entry
// (its name and address, for the window to show with Allow and Block) and gets neither audio
// nor a hearing for its commands. Allowing or blocking holds for the rest of the run; a
// block holds even after asking is switched off. Time is a monotonic millisecond count
// given by the caller. Addresses are address forms.
class ApprovalGate
{
public:
    static constexpr int maxPending = 16;

    // A pending phone that stops saying hello for longer than silenceMs is forgotten, as a
    // registered one would be.
    explicit ApprovalGate(qint64 silenceMs = 6000);

    enum class Verdict
    {
        Register, // register or refresh it as usual
        Ask,      // keep it pending (or make it so) until the user decides
        Ignore,   // blocked
    };

    bool isAsking() const { return asking; }
    // Phones registered when asking is switched on keep their place: they were let in
    // already. Switching it off forgets the pending entries. True when the pending list
    // changed.
    bool setAsking(bool on, const QStringList &registered);

    Verdict verdict(const QString &address) const;
    bool acceptsCommandsFrom(const QString &address) const;

    // Refreshes a pending entry; false when the address is not pending.
    bool refreshPending(const QString &address, qint64 now);
    // A new pending entry at the end, the oldest dropped when there are too many.
    void addPending(const QString &address, const QString &name, qint64 now);
    // Allows a pending address for the run and returns the name it came with; nothing
    // when the address was not pending.
    std::optional<QString> allow(const QString &address);
    // Ignores the address for the run. True when the pending list changed.
    bool block(const QString &address);
    // Forgets the pending entries silent for too long. True when the pending list changed.
    bool expire(qint64 now);

    // One map per pending entry, oldest first, with the keys "name" and "ip".
    QVariantList pendingList() const;

private:
    struct Pending
    {
        QString address;
        QString name;
        qint64 lastHello = 0;
    };

    std::vector<Pending>::iterator findPending(const QString &address);

    qint64 silenceMs;
    bool asking = false;
    QSet<QString> allowed;
    QSet<QString> blocked;
    std::vector<Pending> pending;
};
