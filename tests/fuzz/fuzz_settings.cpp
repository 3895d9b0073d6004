// The settings file and the autostart entry are plain text in the user's configuration
// directory: edited by hand, half written by a crash, or left by another version. Whatever
// they hold, AppConfig comes up with every property readable, and reading alone leaves the
// settings file byte for byte as it was, so nothing the user could still repair is lost.
#include "app/appconfig.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fuzzer/FuzzedDataProvider.h>

namespace {

QTemporaryDir *home = nullptr;

QString settingsPath()
{
    return home->filePath(QStringLiteral("config/Vell/KestruneServer.conf"));
}

QString autostartPath()
{
    return home->filePath(QStringLiteral("config/autostart/KestruneServer.desktop"));
}

void write(const QString &path, const std::string &bytes, qint64 stamp)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        std::abort();
    file.write(bytes.data(), qint64(bytes.size()));
    // The framework re-reads a settings file only when its size or time changed; the time
    // is set after the last write reached the file, or that write would set it again.
    file.flush();
    file.setFileTime(QDateTime::fromSecsSinceEpoch(stamp), QFileDevice::FileModificationTime);
}

QByteArray read(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication application(*argc, *argv);
    home = new QTemporaryDir;
    if (!home->isValid())
        std::abort();
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home->filePath(QStringLiteral("config"))));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home->filePath(QStringLiteral("data"))));
    QDir().mkpath(QFileInfo(settingsPath()).absolutePath());
    QDir().mkpath(QFileInfo(autostartPath()).absolutePath());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static qint64 stamp = 1000000000;
    FuzzedDataProvider input(data, size);
    const std::string settings = input.ConsumeRandomLengthString();
    const std::string autostart = input.ConsumeRemainingBytesAsString();
    write(settingsPath(), settings, ++stamp);
    write(autostartPath(), autostart, stamp);
    {
        AppConfig config;
        // A key the file does not mention anywhere reads as its default (a key can also be
        // spelled with %-escapes, so files with a % are left out of this check).
        const bool escapes = settings.find('%') != std::string::npos;
        const struct
        {
            const char *key;
            bool value;
            bool byDefault;
        } options[] = {
            {"darkTheme", config.darkTheme(), true},
            {"minimizeToTray", config.minimizeToTray(), false},
            {"enableEventSync", config.enableEventSync(), true},
            {"continuousCapture", config.continuousCapture(), true},
            {"errorReporting", config.errorReporting(), true},
            {"askBeforeStreaming", config.askBeforeStreaming(), false},
        };
        for (const auto &option : options) {
            if (!escapes && settings.find(option.key) == std::string::npos &&
                option.value != option.byDefault) {
                std::fprintf(stderr, "%s reads %d, not its default\n", option.key, option.value);
                std::abort();
            }
        }
        config.launchOnStartup();
        if (config.logsDirectory().isEmpty())
            std::abort();
    }
    if (read(settingsPath()) != QByteArray(settings.data(), qsizetype(settings.size())))
        std::abort();
    return 0;
}
