// The whole program, started exactly as main() starts it, but with a document that opens
// the program's own window and then does what a user would do in it: press Start on the
// Server page (--start) or connect to a phone on the Player page (--connect ADDR, playing
// into --output SINK). Without either it just sits there, as the program does after start.

#include "app/startup.h"

#include <QUrl>
#include <QtQml/qqmlextensionplugin.h>

Q_IMPORT_QML_PLUGIN(KestrunePlugin)

int main(int argc, char *argv[])
{
    return runApplication(argc, argv, QUrl("qrc:/bench/programhost.qml"));
}
