#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>

// The one line that tells the user which of the program's ports another program holds:
// "Port 8081 is in use by another program", "Ports 8080 and 8082 are in use by another
// program", "Ports 8080, 8081 and 8082 are ..."; empty when there are none.
QString portConflictText(const QList<quint16> &portsInUse);

// That line as the window shows it now.
class PortConflictLine
{
public:
    // Takes the ports found in use now; true when the line changed. A new line goes to the
    // log too, where it outlasts the window.
    bool update(const QList<quint16> &portsInUse);
    const QString &text() const { return line; }

private:
    QString line;
};
