#pragma once

#include <QtGlobal>

class QMessageLogContext;
class QString;

// Appends every framework message to "debug.log" in the working directory, one
// timestamped line per message, with no level tag and no source location.
void handleQtMessage(QtMsgType type, const QMessageLogContext &context, const QString &message);
