#include "core/muteworker.h"

#include <QElapsedTimer>
#include <QTest>
#include <atomic>
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
    void requestsNeverWaitForTheSoundServer();
    void mutesThatWaitedAreAppliedAfterTheRunningOne();
};

void TestMuteWorker::requestsNeverWaitForTheSoundServer()
{
    StalledToggle server;
    MuteWorker worker([&server] { server(); });
    worker.request();
    QVERIFY(server.waitStarted(1));
    // The server hangs on the first toggle; ten thousand more Mutes cost next to nothing.
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 10000; ++i)
        worker.request();
    QVERIFY2(clock.elapsed() < 100, qPrintable(QString::number(clock.elapsed())));
    // An even number waited: after the running toggle, nothing more is toggled.
    server.release();
    server.release();
    QVERIFY(server.waitFinished(1));
    QTest::qWait(50);
    std::lock_guard<std::mutex> guard(server.lock);
    QCOMPARE(server.started, 1);
    QVERIFY(server.muted);
}

void TestMuteWorker::mutesThatWaitedAreAppliedAfterTheRunningOne()
{
    StalledToggle server;
    {
        MuteWorker worker([&server] { server(); });
        // Mute, then unmute while the mute is still under way: both happen, in turn.
        worker.request();
        QVERIFY(server.waitStarted(1));
        worker.request();
        server.release();
        QVERIFY(server.waitStarted(2));
        {
            std::lock_guard<std::mutex> guard(server.lock);
            QCOMPARE(server.finished, 1);
            QVERIFY(server.muted);
        }
        server.release();
        QVERIFY(server.waitFinished(2));
        {
            std::lock_guard<std::mutex> guard(server.lock);
            QVERIFY(!server.muted);
        }
        // Three while one runs: one more toggle.
        worker.request();
        QVERIFY(server.waitStarted(3));
        for (int i = 0; i < 3; ++i)
            worker.request();
        server.release();
        QVERIFY(server.waitStarted(4));
        server.release();
        QVERIFY(server.waitFinished(4));
        // Destruction waits for a toggle under way.
        worker.request();
        QVERIFY(server.waitStarted(5));
        server.release();
    }
    std::lock_guard<std::mutex> guard(server.lock);
    QCOMPARE(server.finished, 5);
    QCOMPARE(server.started, 5);
}

QTEST_GUILESS_MAIN(TestMuteWorker)
#include "tst_muteworker.moc"
