#include "app/loghandler.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

class TestLogHandler : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void writesOneStampedLinePerMessageIntoTheLogsDirectory();
    void appendsToWhatIsThere();
    void concurrentRecordsStayWhole();
    void removedLogsDirectoryIsMadeAgain();
    void unwritableLogsDirectoryTurnsToStandardError();

private:
    QString logFile() const;
    QStringList logLines() const;

    QTemporaryDir data;
    QTemporaryDir workingDirectory;
    QString previousDirectory;
    QtMessageHandler previousHandler = nullptr;
};

static const QRegularExpression recordPattern(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} (.*)$)");

void TestLogHandler::init()
{
    // The data location is named after the program: this test's executable.
    QVERIFY(data.isValid() && workingDirectory.isValid());
    qputenv("XDG_DATA_HOME", QFile::encodeName(data.path()));
    QDir(data.path()).removeRecursively();
    QDir().mkpath(data.path());
    previousDirectory = QDir::currentPath();
    QVERIFY(QDir::setCurrent(workingDirectory.path()));
    previousHandler = installLogHandler();
}

void TestLogHandler::cleanup()
{
    qInstallMessageHandler(previousHandler);
    QDir::setCurrent(previousDirectory);
}

QString TestLogHandler::logFile() const
{
    return data.filePath("tst_loghandler/Logs/debug.log");
}

QStringList TestLogHandler::logLines() const
{
    QFile file(logFile());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QString text = QString::fromUtf8(file.readAll());
    if (text.endsWith('\n'))
        text.chop(1);
    return text.split('\n');
}

void TestLogHandler::writesOneStampedLinePerMessageIntoTheLogsDirectory()
{
    const QMessageLogContext context;
    handleQtMessage(QtWarningMsg, context, "abc");
    handleQtMessage(QtDebugMsg, context, "abc");

    QFile file(logFile());
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
    // Nothing of it lands where the program was started from.
    QCOMPARE(QDir(workingDirectory.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
             QStringList());
}

void TestLogHandler::appendsToWhatIsThere()
{
    {
        QVERIFY(QDir().mkpath(data.filePath("tst_loghandler/Logs")));
        QFile earlier(logFile());
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

void TestLogHandler::removedLogsDirectoryIsMadeAgain()
{
    handleQtMessage(QtWarningMsg, QMessageLogContext(), "before");
    QVERIFY(QDir(data.filePath("tst_loghandler")).removeRecursively());
    handleQtMessage(QtWarningMsg, QMessageLogContext(), "after");
    const QStringList lines = logLines();
    QCOMPARE(lines.size(), 1);
    QCOMPARE(recordPattern.match(lines[0]).captured(1), QStringLiteral("after"));
}

void TestLogHandler::unwritableLogsDirectoryTurnsToStandardError()
{
    // A data location below a plain file can never become a folder, even for root.
    QFile blocker(data.filePath("file"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    qputenv("XDG_DATA_HOME", QFile::encodeName(data.filePath("file/data")));
    installLogHandler();

    const QString captured = workingDirectory.filePath("stderr.txt");
    std::fflush(stderr);
    const int savedError = dup(STDERR_FILENO);
    const int capture = open(QFile::encodeName(captured).constData(), O_WRONLY | O_CREAT, 0600);
    QVERIFY(savedError >= 0 && capture >= 0);
    dup2(capture, STDERR_FILENO);
    handleQtMessage(QtCriticalMsg, QMessageLogContext(), "nowhere to go");
    dup2(savedError, STDERR_FILENO);
    close(capture);
    close(savedError);

    QFile error(captured);
    QVERIFY(error.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(error.readAll());
    QVERIFY2(recordPattern.match(text.trimmed()).captured(1) == "nowhere to go", qPrintable(text));
    QVERIFY(!QFile::exists(data.filePath("file/data")));
}

QTEST_GUILESS_MAIN(TestLogHandler)
#include "tst_loghandler.moc"
