// Runs the program's start-up with the main document named on the command line, so tests
// can watch what start-up does with a broken document or with persisted settings.
#include "app/startup.h"

#include <QUrl>
#include <QtQml/qqmlextensionplugin.h>

Q_IMPORT_QML_PLUGIN(KestrunePlugin)

int main(int argc, char *argv[])
{
    const QUrl document(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString());
    return runApplication(argc, argv, document);
}
