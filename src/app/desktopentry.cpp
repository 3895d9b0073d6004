#include "app/desktopentry.h"

#include <QList>

QString DesktopEntry::quotedExec(const QString &program)
{
    // Inside a quoted argument ", `, $ and \ take a backslash; the key file then escapes
    // every backslash once more, and % is the field-code escape.
    QString quoted;
    for (const QChar c : program) {
        if (c == '"' || c == '`' || c == '$')
            quoted += QStringLiteral("\\\\");
        else if (c == '\\')
            quoted += QStringLiteral("\\\\\\");
        else if (c == '%')
            quoted += '%';
        quoted += c;
    }
    return '"' + quoted + '"';
}

QByteArray DesktopEntry::autostartEntry(const QString &program)
{
    QString entry;
    entry += QStringLiteral("[Desktop Entry]\n");
    entry += QStringLiteral("Type=Application\n");
    entry += QStringLiteral("Name=KestruneServer\n");
    entry += QStringLiteral("Comment=Stream this computer's sound to phones on the network\n");
    entry += QStringLiteral("Exec=") + quotedExec(program) + '\n';
    entry += QStringLiteral("Icon=" KESTRUNE_APP_ID "\n");
    entry += QStringLiteral("Terminal=false\n");
    entry += QStringLiteral("X-GNOME-Autostart-enabled=true\n");
    return entry.toUtf8();
}

bool DesktopEntry::isHidden(const QByteArray &content)
{
    bool inMainGroup = false;
    const QList<QByteArray> lines = content.split('\n');
    for (const QByteArray &raw : lines) {
        const QByteArray line = raw.trimmed();
        if (line.startsWith('[')) {
            inMainGroup = line == "[Desktop Entry]";
            continue;
        }
        if (!inMainGroup)
            continue;
        const int equals = line.indexOf('=');
        if (equals < 0)
            continue;
        if (line.left(equals).trimmed() == "Hidden" && line.mid(equals + 1).trimmed() == "true")
            return true;
    }
    return false;
}
