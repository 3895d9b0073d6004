#pragma once

#include "commandline.h"
#include "sendschedule.h"

#include <QHostAddress>
#include <QString>
#include <QStringList>

struct SendOptions
{
    QHostAddress to;
    QHostAddress bind; // null: let the system choose
    QString wavPath;   // empty: a tone
    double toneHz = 440;
    double seconds = 0; // 0: to the end of the file, or until stopped
    SendPattern pattern;
};

ParseResult parseSendArguments(const QStringList &arguments, SendOptions &options);

// send: streams audio datagrams to a player at real-time pace.
int runSend(const QStringList &arguments);
