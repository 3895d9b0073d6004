#pragma once

#include "commandline.h"

#include <QByteArray>
#include <QHostAddress>
#include <QStringList>

struct CmdOptions
{
    QHostAddress to;
    QHostAddress bind; // null: let the system choose
    QByteArray message;
};

ParseResult parseCmdArguments(const QStringList &arguments, CmdOptions &options);

// cmd: one control datagram to a server's port 8081.
int runCmd(const QStringList &arguments);
