#include "core/muteworker.h"

#include <QTest>
#include <condition_variable>
#include <mutex>

namespace {

// A sound server that answers only when the test lets it.
class StalledToggle
{
public:
    void operator()()
    {
        std::unique_lock<std::mutex> guard(lock);
        ++started;
        changed.notify_all();
        changed.wait(guard, [this] { return released > finished; });
        muted = !muted;
        ++finished;
        changed.notify_all();
    }

    void release()
    {
        std::lock_guard<std::mutex> guard(lock);
        ++released;
        changed.notify_all();
    }

    // Waits until `count` toggles have started (or finished); false after 5 s.
    bool waitStarted(int count)
    {
        return waitFor([&] { return started >= count; });
    }
    bool waitFinished(int count)
    {
        return waitFor([&] { return finished >= count; });
    }

    std::mutex lock; // guards every member below
    std::condition_variable changed;
    int started = 0;
    int finished = 0;
    int released = 0;
    bool muted = false;

private:
    template <typename Done> bool waitFor(Done done)
    {
        std::unique_lock<std::mutex> guard(lock);
        return changed.wait_for(guard, std::chrono::seconds(5), done);
    }
};

} // namespace

class TestMuteWorker : public QObject
{
    Q_OBJECT

private slots:
    void mutesThatWaitedAreAppliedAfterTheRunningOne();
};

// The responsiveness itself is the stalled sound-server test's: here, what gets toggled.
void TestMuteWorker::mutesThatWaitedAreAppliedAfterTheRunningOne()
{
    StalledToggle server;
    const auto state = [&server] {
        std::lock_guard<std::mutex> guard(server.lock);
        return std::make_pair(server.started, server.muted);
    };
    {
        MuteWorker worker([&server] { server(); });
        // Mute, then unmute while the mute is still under way: both happen, in turn.
        worker.request();
        QVERIFY(server.waitStarted(1));
        worker.request();
        server.release();
        QVERIFY(server.waitStarted(2));
        server.release();
        QVERIFY(server.waitFinished(2));
        QCOMPARE(state(), std::make_pair(2, false));

        // Two more while one runs cancel out; three leave one.
        worker.request();
        QVERIFY(server.waitStarted(3));
        worker.request();
        worker.request();
        server.release();
        QVERIFY(server.waitFinished(3));
        QTest::qWait(50);
        QCOMPARE(state(), std::make_pair(3, true));
        worker.request();
        QVERIFY(server.waitStarted(4));
        for (int i = 0; i < 3; ++i)
            worker.request();
        server.release();
        QVERIFY(server.waitStarted(5));
        server.release();
        QVERIFY(server.waitFinished(5));
        QCOMPARE(state(), std::make_pair(5, true));

        // Destruction waits for a toggle under way.
        worker.request();
        QVERIFY(server.waitStarted(6));
        server.release();
    }
    std::lock_guard<std::mutex> guard(server.lock);
    QCOMPARE(server.finished, 6);
}

QTEST_GUILESS_MAIN(TestMuteWorker)
#include "tst_muteworker.moc"
