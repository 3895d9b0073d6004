// Runs the QML test cases of this folder against the module's documents, with the core
// objects replaced by fakes that record what the pages ask of them.
#include "fakeappconfig.h"
#include "fakeservercore.h"
#include "requestlistener.h"

#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickStyle>
#include <QtQml/qqmlextensionplugin.h>
#include <QtQuickTest/quicktest.h>

Q_IMPORT_QML_PLUGIN(KestrunePlugin)

class Setup : public QObject
{
    Q_OBJECT

public slots:
    void applicationAvailable() { QQuickStyle::setStyle(QStringLiteral("Material")); }

    // Called once per test file, each with an engine of its own: fresh fakes for each.
    void qmlEngineAvailable(QQmlEngine *engine)
    {
        engine->addImportPath(QStringLiteral("qrc:/"));
        engine->rootContext()->setContextProperty(QStringLiteral("serverCore"),
                                                  new FakeServerCore(engine));
        engine->rootContext()->setContextProperty(QStringLiteral("appConfig"),
                                                  new FakeAppConfig(engine));
        engine->rootContext()->setContextProperty(QStringLiteral("requestListener"),
                                                  new RequestListener(engine));
    }
};

QUICK_TEST_MAIN_WITH_SETUP(kestrune_qml, Setup)

#include "tst_qml.moc"
