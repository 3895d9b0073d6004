#pragma once

#include "commandline.h"

#include <QHostAddress>
#include <QStringList>

struct DiscoverOptions
{
    QHostAddress bind;  // null: every address
    double seconds = 0; // 0: until stopped
};

ParseResult parseDiscoverArguments(const QStringList &arguments, DiscoverOptions &options);

// discover: prints the presence broadcasts heard on port 8082.
int runDiscover(const QStringList &arguments);
