// Shows the main window on one page, with a core stand-in holding a few devices so the pages
// look as they do in use, and prints "ready" once the window has been drawn. The settings
// (and with them the theme) are the real ones of the user the driver runs as.
// Usage: kestrune_screenshots server|player|settings
#include "app/appconfig.h"
#include "fakeservercore.h"

#include <QApplication>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickItem>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QTimer>
#include <QtQml/qqmlextensionplugin.h>
#include <cstdio>

Q_IMPORT_QML_PLUGIN(KestrunePlugin)

namespace {

QVariantMap device(const QString &id, const QString &name)
{
    return {{QStringLiteral("id"), id}, {QStringLiteral("name"), name}};
}

QVariantMap phone(const QString &name, const QString &ip, int volume)
{
    return {{QStringLiteral("name"), name},
            {QStringLiteral("ip"), ip},
            {QStringLiteral("volume"), volume},
            {QStringLiteral("latency"), 0}};
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    // The logs path shown on the Settings page is the one the program itself would show.
    QApplication::setApplicationName(QStringLiteral("KestruneServer"));
    QQuickStyle::setStyle(QStringLiteral("Material"));

    const QStringList pages = {QStringLiteral("server"), QStringLiteral("player"),
                               QStringLiteral("settings")};
    const int page = pages.indexOf(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString());
    if (page < 0) {
        std::fprintf(stderr, "usage: %s server|player|settings\n", argv[0]);
        return 2;
    }

    FakeServerCore serverCore;
    const QVariantList outputs = {
        device(QStringLiteral("speakers"), QStringLiteral("Speakers")),
        device(QStringLiteral("headphones"), QStringLiteral("Headphones")),
        device(QStringLiteral("cable_input"), QStringLiteral("CABLE Input"))};
    serverCore.stage(
        {{QStringLiteral("audioDevices"), outputs},
         {QStringLiteral("outputDevices"), outputs},
         {QStringLiteral("selectedOutputDevice"), QStringLiteral("speakers")},
         {QStringLiteral("connectedDevices"),
          QVariantList{phone(QStringLiteral("Pixel 7"), QStringLiteral("192.168.1.31"), 80),
                       phone(QStringLiteral("Galaxy S23"), QStringLiteral("192.168.1.42"), 55)}}});
    AppConfig appConfig;

    QQmlApplicationEngine engine;
    engine.addImportPath(QStringLiteral("qrc:/"));
    engine.rootContext()->setContextProperty(QStringLiteral("serverCore"), &serverCore);
    engine.rootContext()->setContextProperty(QStringLiteral("appConfig"), &appConfig);
    engine.load(QUrl(QStringLiteral("qrc:/Kestrune/ui/main.qml")));
    if (engine.rootObjects().isEmpty())
        return 1;
    auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().constFirst());

    window->findChild<QObject *>(QStringLiteral("navList"))->setProperty("currentIndex", page);
    if (page == 1) {
        // Mic mode shows the help card and picks the virtual cable.
        auto *pageStack = window->findChild<QQuickItem *>(QStringLiteral("pages"));
        pageStack->childItems().at(1)->setProperty("receiveMode", 1);
    }

    // A few frames after the first one, fonts and layouts have settled.
    int frames = 0;
    QObject::connect(window, &QQuickWindow::frameSwapped, &application, [&frames, window] {
        if (++frames == 1)
            QTimer::singleShot(500, window, [] {
                std::puts("ready");
                std::fflush(stdout);
            });
    });
    return QApplication::exec();
}
