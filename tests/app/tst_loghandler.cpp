#include "app/loghandler.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <thread>

class TestLogHandler : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void writesOneStampedLinePerMessage();
    void appendsToWhatIsThere();
    void concurrentRecordsStayWhole();
    void unwritableDirectoryLosesMessagesQuietly();

private:
    QStringList logLines() const;

    QTemporaryDir dir;
    QString previousDir;
};

static const QRegularExpression recordPattern(
    R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} (.*)$)");

void TestLogHandler::init()
{
    previousDir = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));
    QFile::remove("debug.log");
}

void TestLogHandler::cleanup()
{
    QDir::setCurrent(previousDir);
}

QStringList TestLogHandler::logLines() const
{
    QFile file(dir.filePath("debug.log"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QString text = QString::fromUtf8(file.readAll());
    if (text.endsWith('\n'))
        text.chop(1);
    return text.split('\n');
}

void TestLogHandler::writesOneStampedLinePerMessage()
{
    const QMessageLogContext context;
    handleQtMessage(QtWarningMsg, context, "abc");
    handleQtMessage(QtDebugMsg, context, "abc");

    QFile file(dir.filePath("debug.log"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QCOMPARE(bytes.size(), 2 * (23 + 1 + 3 + 1));
    const QStringList lines = logLines();
    QCOMPARE(lines.size(), 2);
    // A warning and a debug message look the same: no level tag, no source location.
    for (const QString &line : lines) {
        const auto match = recordPattern.match(line);
        QVERIFY2(match.hasMatch(), qPrintable(line));
        QCOMPARE(match.captured(1), QStringLiteral("abc"));
    }
    QVERIFY(!bytes.contains('\r'));
}

void TestLogHandler::appendsToWhatIsThere()
{
    {
        QFile earlier(dir.filePath("debug.log"));
        QVERIFY(earlier.open(QIODevice::WriteOnly));
        earlier.write("from an earlier run\n");
    }
    handleQtMessage(QtInfoMsg, QMessageLogContext(), "first\nsecond");

    const QStringList lines = logLines();
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines[0], QStringLiteral("from an earlier run"));
    QCOMPARE(recordPattern.match(lines[1]).captured(1), QStringLiteral("first"));
    // Only the first physical line of a multi-line message carries the stamp.
    QCOMPARE(lines[2], QStringLiteral("second"));
}

void TestLogHandler::concurrentRecordsStayWhole()
{
    const int perThread = 500;
    auto writer = [](const QString &text) {
        for (int i = 0; i < perThread; ++i)
            handleQtMessage(QtWarningMsg, QMessageLogContext(), text);
    };
    const QString a(300, 'a');
    const QString b(300, 'b');
    std::thread first(writer, a);
    std::thread second(writer, b);
    first.join();
    second.join();

    const QStringList lines = logLines();
    QCOMPARE(lines.size(), 2 * perThread);
    for (const QString &line : lines) {
        const QString text = recordPattern.match(line).captured(1);
        QVERIFY2(text == a || text == b, qPrintable(line.left(80)));
    }
}

void TestLogHandler::unwritableDirectoryLosesMessagesQuietly()
{
    // A working directory that has gone away cannot take the file, even for root.
    QTemporaryDir gone;
    QVERIFY(QDir::setCurrent(gone.path()));
    QVERIFY(gone.remove());
    handleQtMessage(QtCriticalMsg, QMessageLogContext(), "nowhere to go");
    QVERIFY(!QFile::exists(gone.filePath("debug.log")));
}

QTEST_GUILESS_MAIN(TestLogHandler)
#include "tst_loghandler.moc"
