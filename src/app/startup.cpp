#include "app/startup.h"

#include "app/appconfig.h"
#include "app/loghandler.h"
#include "app/logsdirectory.h"
#include "app/singleinstance.h"
#include "audio/platform/audioplatform.h"
#include "core/servercore.h"

#include <QApplication>
#include <QIcon>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickStyle>
#include <QUrl>

int runApplication(int &argc, char **argv, const QUrl &mainUrl)
{
    // First, so that what the framework says while it starts already reaches the log, in
    // the folder named after the program.
    nameProgramEarly(argc > 0 ? argv[0] : nullptr);
    installLogHandler();

    // QApplication rather than QGuiApplication: the tray icon falls back to Qt Widgets
    // where the desktop has no native tray.
    QApplication application(argc, argv);

    // Before anything binds a port: a second start only brings the first one forward.
    SingleInstance instance(SingleInstance::userDirectory());
    if (!instance.claim())
        return 0;

    AudioPlatform::install(createSystemAudioPlatform());
    QApplication::setWindowIcon(QIcon(":/Kestrune/ui/images/logo.png"));
    // Wayland desktops find the window's launcher entry, and with it its icon, by this.
    QGuiApplication::setDesktopFileName(QStringLiteral(KESTRUNE_APP_ID));
    QQuickStyle::setStyle("Material");

    ServerCore serverCore(nullptr);
    AppConfig appConfig(nullptr);

    QQmlApplicationEngine engine(nullptr);
    // The window's documents import their own module by name; it is served from ":/Kestrune/".
    engine.addImportPath("qrc:/");
    engine.rootContext()->setContextProperty("serverCore", &serverCore);
    engine.rootContext()->setContextProperty("appConfig", &appConfig);

    const QUrl url = mainUrl;
    QObject::connect(
        &engine, &QQmlApplicationEngine::objectCreated, &application,
        [url](QObject *object, const QUrl &loaded) {
            if (!object && loaded == url)
                QCoreApplication::exit(-1);
        },
        Qt::QueuedConnection);
    engine.load(url);
    QObject::connect(&instance, &SingleInstance::activationRequested, &engine, [&engine] {
        for (QObject *window : engine.rootObjects())
            QMetaObject::invokeMethod(window, "restore");
    });

    return QApplication::exec();
}
