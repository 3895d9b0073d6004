#pragma once

#include "commandline.h"

#include <QHostAddress>
#include <QString>
#include <QStringList>

struct ListenOptions
{
    QHostAddress server;
    QString name = QStringLiteral("kestrune-peer");
    QHostAddress bind; // null: any address of the server's family
    QString wavPath;   // empty: no file
    bool play = false;
    QString sink;       // with play: a device id or name; empty for the default output
    double seconds = 0; // 0: until stopped
};

ParseResult parseListenArguments(const QStringList &arguments, ListenOptions &options);

// listen: registers with a server, receives and decodes its stream.
int runListen(const QStringList &arguments);
