#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>

// The one line that tells the user which of the program's ports another program holds:
// "Port 8081 is in use by another program", "Ports 8080 and 8082 are in use by another
// program", "Ports 8080, 8081 and 8082 are ..."; empty when there are none.
QString portConflictText(const QList<quint16> &portsInUse);
