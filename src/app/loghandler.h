#pragma once

#include <QtGlobal>

class QMessageLogContext;
class QString;

// Every framework message goes to "debug.log" in the logs directory (logsdirectory.h), one
// timestamped line per message, with no level tag and no source location. A message the
// folder cannot take goes to standard error in the same form.

// Fixes the file at debug.log in the logs directory as it is now (created when missing)
// and installs handleQtMessage; returns the handler it replaced. The folder is found once:
// messages still arrive while the process exits, when the framework can no longer look
// it up.
QtMessageHandler installLogHandler();
void handleQtMessage(QtMsgType type, const QMessageLogContext &context, const QString &message);
