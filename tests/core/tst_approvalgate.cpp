#include "core/approvalgate.h"

#include <QTest>
#include <QVariantMap>

using Verdict = ApprovalGate::Verdict;

namespace {

QStringList pendingAddresses(const ApprovalGate &gate)
{
    QStringList addresses;
    for (const QVariant &entry : gate.pendingList())
        addresses.append(entry.toMap().value("ip").toString());
    return addresses;
}

} // namespace

class TestApprovalGate : public QObject
{
    Q_OBJECT

private slots:
    void offLetsEveryoneInButTheBlocked();
    void askingHoldsNewAddressesUntilAllowed();
    void blockHoldsForTheRun();
    void silentPendingEntriesAreForgotten();
    void switchingOnKeepsRegisteredPhones();
};

void TestApprovalGate::offLetsEveryoneInButTheBlocked()
{
    ApprovalGate gate;
    QCOMPARE(gate.verdict("10.0.0.1"), Verdict::Register);
    QVERIFY(gate.acceptsCommandsFrom("10.0.0.1"));
    QVERIFY(!gate.block("10.0.0.1"));
    QCOMPARE(gate.verdict("10.0.0.1"), Verdict::Ignore);
    QVERIFY(!gate.acceptsCommandsFrom("10.0.0.1"));
}

void TestApprovalGate::askingHoldsNewAddressesUntilAllowed()
{
    ApprovalGate gate;
    gate.setAsking(true, {});
    QCOMPARE(gate.verdict("10.0.0.1"), Verdict::Ask);
    QVERIFY(!gate.acceptsCommandsFrom("10.0.0.1"));
    QVERIFY(!gate.refreshPending("10.0.0.1", 0));
    gate.addPending("10.0.0.1", "Pixel 7", 0);
    gate.addPending("10.0.0.2", "", 0);
    QVERIFY(gate.refreshPending("10.0.0.1", 100));
    QCOMPARE(gate.pendingList(), QVariantList({QVariantMap{{"name", "Pixel 7"}, {"ip", "10.0.0.1"}},
                                               QVariantMap{{"name", ""}, {"ip", "10.0.0.2"}}}));

    QCOMPARE(gate.allow("10.0.0.1"), std::optional<QString>("Pixel 7"));
    QCOMPARE(gate.verdict("10.0.0.1"), Verdict::Register);
    QVERIFY(gate.acceptsCommandsFrom("10.0.0.1"));
    QCOMPARE(pendingAddresses(gate), QStringList{"10.0.0.2"});
    // Only a pending address can be allowed; an empty name is still a name.
    QCOMPARE(gate.allow("10.0.0.9"), std::nullopt);
    QCOMPARE(gate.verdict("10.0.0.9"), Verdict::Ask);
    QCOMPARE(gate.allow("10.0.0.2"), std::optional<QString>(""));

    // Switching off forgets what is pending and lets everyone in.
    gate.addPending("10.0.0.3", "Tablet", 0);
    QVERIFY(gate.setAsking(false, {}));
    QVERIFY(gate.pendingList().isEmpty());
    QCOMPARE(gate.verdict("10.0.0.3"), Verdict::Register);
}

void TestApprovalGate::blockHoldsForTheRun()
{
    ApprovalGate gate;
    gate.setAsking(true, {});
    gate.addPending("10.0.0.1", "Stranger", 0);
    QVERIFY(gate.block("10.0.0.1"));
    QVERIFY(gate.pendingList().isEmpty());
    QCOMPARE(gate.verdict("10.0.0.1"), Verdict::Ignore);
    // Allowed earlier, blocked now: blocked.
    gate.addPending("10.0.0.2", "Phone", 0);
    gate.allow("10.0.0.2");
    gate.block("10.0.0.2");
    QCOMPARE(gate.verdict("10.0.0.2"), Verdict::Ignore);
    // Still blocked when asking is switched off.
    gate.setAsking(false, {});
    QCOMPARE(gate.verdict("10.0.0.1"), Verdict::Ignore);
    QVERIFY(!gate.acceptsCommandsFrom("10.0.0.1"));
}

void TestApprovalGate::silentPendingEntriesAreForgotten()
{
    ApprovalGate gate;
    gate.setAsking(true, {});
    gate.addPending("10.0.0.1", "quiet", 0);
    gate.addPending("10.0.0.2", "talkative", 0);
    for (qint64 now = 2000; now <= 8000; now += 2000)
        gate.refreshPending("10.0.0.2", now);
    QVERIFY(!gate.expire(6000)); // exactly 6 s of silence: kept
    QVERIFY(gate.expire(6001));
    QCOMPARE(pendingAddresses(gate), QStringList{"10.0.0.2"});
    QVERIFY(!gate.expire(14000));
    QVERIFY(gate.expire(14001));

    ApprovalGate quick(300);
    quick.setAsking(true, {});
    quick.addPending("10.0.0.1", "quiet", 0);
    QVERIFY(!quick.expire(300));
    QVERIFY(quick.expire(301));
}

void TestApprovalGate::switchingOnKeepsRegisteredPhones()
{
    ApprovalGate gate;
    gate.setAsking(true, {"10.0.0.1"});
    QCOMPARE(gate.verdict("10.0.0.1"), Verdict::Register);
    QCOMPARE(gate.verdict("10.0.0.2"), Verdict::Ask);
}

QTEST_APPLESS_MAIN(TestApprovalGate)
#include "tst_approvalgate.moc"
