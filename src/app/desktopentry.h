#pragma once

#include <QByteArray>
#include <QString>

// The autostart entry of the Desktop Entry format, kept apart from the file system so the
// quoting rules can be checked on their own.
namespace DesktopEntry {

// The program path as one quoted argument of an Exec key, escaped for the key file.
QString quotedExec(const QString &program);
QByteArray autostartEntry(const QString &program);
// An entry with Hidden=true counts as deleted.
bool isHidden(const QByteArray &content);

} // namespace DesktopEntry
