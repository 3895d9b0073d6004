// Reports of changed devices from the sound system's threads, turned into paced refreshes
// on the watcher's thread.
#include "audio/platform/fake/fakeaudioplatform.h"
#include "core/devicewatcher.h"

#include <QElapsedTimer>
#include <QTest>
#include <atomic>
#include <thread>
#include <vector>

namespace {

// Threads that report changes every millisecond until stopped.
class Reporters
{
public:
    Reporters(FakeAudioPlatform &platform, int count, const QElapsedTimer &clock)
    {
        for (int i = 0; i < count; ++i)
            threads.emplace_back([this, &platform, &clock] {
                while (!stopped) {
                    lastMs = clock.elapsed();
                    platform.announceDevicesChanged();
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
            });
    }
    ~Reporters() { stop(); }

    void stop()
    {
        stopped = true;
        for (std::thread &thread : threads)
            if (thread.joinable())
                thread.join();
    }

    std::atomic<qint64> lastMs{-1}; // when the last report began

private:
    std::atomic<bool> stopped{false};
    std::vector<std::thread> threads;
};

} // namespace

class TestDeviceWatcher : public QObject
{
    Q_OBJECT

private slots:
    void init() { platform = &FakeAudioPlatform::install(); }

    void aReportAfterAQuietSpellRefreshesSoon()
    {
        DeviceWatcher watcher;
        QElapsedTimer clock;
        qint64 refreshedAt = -1;
        connect(&watcher, &DeviceWatcher::refreshDue, this, [&] { refreshedAt = clock.elapsed(); });
        clock.start();
        platform->addEndpoint(L"usb", L"USB Speakers");
        QTRY_VERIFY_WITH_TIMEOUT(refreshedAt >= 0, 1000);
        QVERIFY2(refreshedAt < DeviceWatcher::minimumGapMs,
                 qPrintable(QString::number(refreshedAt)));
    }

    // Reports from three threads for a second: a refresh soon after the start, then one per
    // gap at most, and the last report is always followed by one.
    void aBurstFromManyThreadsIsPacedAndEndsWithARefresh()
    {
        DeviceWatcher watcher;
        QElapsedTimer clock;
        std::vector<qint64> refreshes;
        connect(&watcher, &DeviceWatcher::refreshDue, this,
                [&] { refreshes.push_back(clock.elapsed()); });
        clock.start();
        Reporters reporters(*platform, 3, clock);
        QTest::qWait(1000);
        reporters.stop();
        const qint64 lastReport = reporters.lastMs;
        QTest::qWait(DeviceWatcher::minimumGapMs + 200);

        QStringList times;
        for (const qint64 at : refreshes)
            times << QString::number(at);
        qInfo("refreshes at %s ms; the last report at %lld ms", qPrintable(times.join(' ')),
              lastReport);
        QVERIFY(refreshes.size() >= 3 && refreshes.size() <= 6);
        QVERIFY(refreshes.front() < 100);
        for (std::size_t i = 1; i < refreshes.size(); ++i)
            QVERIFY(refreshes[i] - refreshes[i - 1] >= DeviceWatcher::minimumGapMs);
        QVERIFY(refreshes.back() >= lastReport);
    }

    // Destroyed while reports pour in: no report reaches it afterwards (the sanitizers
    // watch this one).
    void destroyedWhileReportsArrive()
    {
        QElapsedTimer clock;
        clock.start();
        Reporters reporters(*platform, 2, clock);
        for (int i = 0; i < 20; ++i) {
            auto watcher = std::make_unique<DeviceWatcher>();
            QTest::qWait(10);
            watcher.reset();
            QTest::qWait(5);
        }
    }

private:
    FakeAudioPlatform *platform = nullptr;
};

QTEST_GUILESS_MAIN(TestDeviceWatcher)
#include "tst_devicewatcher.moc"
