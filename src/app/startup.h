#pragma once

class QUrl;

// The whole start-up: log, application, core objects, QML engine, event loop. Returns the
// event loop's exit code, -1 when the main document cannot be loaded.
int runApplication(int &argc, char **argv, const QUrl &mainUrl);
