#include "app/singleinstance.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <memory>
#include <thread>

class TestSingleInstance : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void laterClaimKnocksAndStandsAside();
    void unwritableDirectoryStillRuns();

private:
    // Claims on a thread of its own, as a second process would, while this thread keeps
    // the first instance's event loop turning.
    bool claimElsewhere(const QString &directory);

    std::unique_ptr<QTemporaryDir> runtime;
};

void TestSingleInstance::init()
{
    runtime = std::make_unique<QTemporaryDir>();
    QVERIFY(runtime->isValid());
}

bool TestSingleInstance::claimElsewhere(const QString &directory)
{
    std::atomic<bool> finished{false};
    bool claimed = true;
    std::thread later([&] {
        SingleInstance instance(directory);
        claimed = instance.claim();
        finished = true;
    });
    QElapsedTimer waited;
    waited.start();
    while (!finished && waited.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    later.join();
    return claimed;
}

void TestSingleInstance::laterClaimKnocksAndStandsAside()
{
    SingleInstance first(runtime->path());
    QSignalSpy activated(&first, &SingleInstance::activationRequested);
    QVERIFY(first.claim());

    QElapsedTimer took;
    took.start();
    QVERIFY(!claimElsewhere(runtime->path()));
    QCOMPARE(activated.count(), 1);
    // It waited for the first to hear it, not for its give-up deadline.
    QVERIFY2(took.elapsed() < 2000, qPrintable(QString::number(took.elapsed())));

    QVERIFY(!claimElsewhere(runtime->path()));
    QCOMPARE(activated.count(), 2);

    // Another user's directory is another user's program.
    QTemporaryDir otherUser;
    SingleInstance theirs(otherUser.path());
    QVERIFY(theirs.claim());
}

void TestSingleInstance::unwritableDirectoryStillRuns()
{
    QFile blocker(runtime->filePath("not-a-directory"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    SingleInstance instance(blocker.fileName());
    QVERIFY(instance.claim());
}

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
