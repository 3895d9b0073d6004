#include "app/startup.h"

#include <QUrl>
#include <QtQml/qqmlextensionplugin.h>

Q_IMPORT_QML_PLUGIN(KestrunePlugin)

int main(int argc, char *argv[])
{
    return runApplication(argc, argv, QUrl("qrc:/Kestrune/ui/main.qml", QUrl::TolerantMode));
}
