// The QML tests drive the pages through fakes of the two core objects; a page that uses a
// property the fake lacks would pass its tests and fail in the program. Each fake must
// therefore show QML exactly the surface of the class it stands in for (properties with
// their types, access and notify signals; signals; invokables and public slots), apart from
// the test controls it names below.
#include "app/appconfig.h"
#include "core/servercore.h"
#include "fakeappconfig.h"
#include "fakeservercore.h"

#include <QMap>
#include <QMetaMethod>
#include <QMetaObject>
#include <QMetaProperty>
#include <QStringList>
#include <QTest>

namespace {

QString describe(const QMetaProperty &property)
{
    QString text = QStringLiteral("property %1 %2")
                       .arg(QLatin1String(property.typeName()), QLatin1String(property.name()));
    if (property.isWritable())
        text += QStringLiteral(" writable");
    if (property.isConstant())
        text += QStringLiteral(" constant");
    if (property.hasNotifySignal())
        text += QStringLiteral(" notify ") +
                QString::fromLatin1(property.notifySignal().methodSignature());
    return text;
}

// What QML can reach: public signals, slots and invokables.
QString describe(const QMetaMethod &method)
{
    if (method.access() != QMetaMethod::Public)
        return QString();
    const char *kind = nullptr;
    switch (method.methodType()) {
    case QMetaMethod::Signal:
        kind = "signal";
        break;
    case QMetaMethod::Slot:
        kind = "slot";
        break;
    case QMetaMethod::Method:
        kind = "invokable";
        break;
    case QMetaMethod::Constructor:
        return QString();
    }
    return QStringLiteral("%1 %2 %3")
        .arg(QLatin1String(kind), QLatin1String(method.typeName()),
             QString::fromLatin1(method.methodSignature()));
}

// The members a class adds to QObject, each under the name QML knows it by.
using Surface = QMap<QString, QString>;

Surface surfaceOf(const QMetaObject &meta)
{
    Surface surface;
    for (int i = meta.propertyOffset(); i < meta.propertyCount(); ++i) {
        const QMetaProperty property = meta.property(i);
        surface.insert(QString::fromLatin1(property.name()), describe(property));
    }
    for (int i = meta.methodOffset(); i < meta.methodCount(); ++i) {
        const QMetaMethod method = meta.method(i);
        const QString description = describe(method);
        if (!description.isEmpty())
            surface.insert(QString::fromLatin1(method.methodSignature()), description);
    }
    return surface;
}

// Lists every difference between the real surface and the fake's, leaving out the fake's
// test controls; a test control the real class also has would hide a real member.
QStringList differences(const QMetaObject &real, const QMetaObject &fake,
                        const QStringList &testControls)
{
    const Surface realSurface = surfaceOf(real);
    const Surface fakeSurface = surfaceOf(fake);
    QStringList found;
    for (auto it = realSurface.cbegin(); it != realSurface.cend(); ++it) {
        if (testControls.contains(it.key()))
            found << QStringLiteral("the test control %1 hides %2").arg(it.key(), it.value());
        else if (!fakeSurface.contains(it.key()))
            found << QStringLiteral("missing: %1").arg(it.value());
        else if (fakeSurface.value(it.key()) != it.value())
            found << QStringLiteral("differs: %1, the fake has %2")
                         .arg(it.value(), fakeSurface.value(it.key()));
    }
    for (auto it = fakeSurface.cbegin(); it != fakeSurface.cend(); ++it) {
        if (!realSurface.contains(it.key()) && !testControls.contains(it.key()))
            found << QStringLiteral("not in the real class: %1").arg(it.value());
    }
    for (const QString &control : testControls) {
        if (!fakeSurface.contains(control))
            found << QStringLiteral("no longer in the fake, drop it from its test controls: %1")
                         .arg(control);
    }
    return found;
}

} // namespace

class TestFakeSurface : public QObject
{
    Q_OBJECT

private slots:
    void fakeShowsTheRealSurface_data();
    void fakeShowsTheRealSurface();
};

void TestFakeSurface::fakeShowsTheRealSurface_data()
{
    QTest::addColumn<const QMetaObject *>("real");
    QTest::addColumn<const QMetaObject *>("fake");
    QTest::addColumn<QStringList>("testControls");
    QTest::newRow("ServerCore") << &ServerCore::staticMetaObject
                                << &FakeServerCore::staticMetaObject
                                << QStringList{"calls", "callsChanged()", "stage(QVariantMap)",
                                               "clearCalls()", "reset()"};
    QTest::newRow("AppConfig") << &AppConfig::staticMetaObject << &FakeAppConfig::staticMetaObject
                               << QStringList{"writes", "writesChanged()", "stage(QString,bool)",
                                              "clearWrites()", "reset()"};
}

void TestFakeSurface::fakeShowsTheRealSurface()
{
    QFETCH(const QMetaObject *, real);
    QFETCH(const QMetaObject *, fake);
    QFETCH(QStringList, testControls);
    const QStringList found = differences(*real, *fake, testControls);
    QVERIFY2(found.isEmpty(), qPrintable(found.join(QStringLiteral("\n"))));
}

QTEST_APPLESS_MAIN(TestFakeSurface)
#include "tst_fakesurface.moc"
