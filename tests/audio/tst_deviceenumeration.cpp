#include "audio/platform/fake/fakeaudioplatform.h"
#include "audio/wasapicapture.h"
#include "audio/wasapiplayer.h"

#include <QTest>

// Found by argument lookup, so it lives beside DeviceInfo in the global namespace.
static bool operator==(const DeviceInfo &a, const DeviceInfo &b)
{
    return a.id == b.id && a.name == b.name;
}

class TestDeviceEnumeration : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void bothEnginesListTheSameEndpointsInOrder();
    void failedListingIsEmpty();
    void removedEndpointIsNeitherListedNorOpened();
    void muteOfTheDefaultOutput();

private:
    FakeAudioPlatform *platform = nullptr;
};

void TestDeviceEnumeration::init()
{
    platform = &FakeAudioPlatform::install();
}

void TestDeviceEnumeration::bothEnginesListTheSameEndpointsInOrder()
{
    QVERIFY(WasapiCapture::enumerateDevices().empty());
    platform->addEndpoint(L"speakers", L"Speakers");
    platform->addEndpoint(L"cable", L"CABLE Input");
    // Two endpoints may share a name; their ids tell them apart.
    platform->addEndpoint(L"usb-2", L"Speakers");

    const std::vector<DeviceInfo> expected = {
        {L"speakers", L"Speakers"}, {L"cable", L"CABLE Input"}, {L"usb-2", L"Speakers"}};
    QVERIFY(WasapiCapture::enumerateDevices() == expected);
    QVERIFY(WasapiCapture::enumerateDevices() == expected);
    QVERIFY(WasapiPlayer::enumerateDevices() == expected);
    QVERIFY(WasapiPlayer::enumerateDevices() == expected);
}

void TestDeviceEnumeration::failedListingIsEmpty()
{
    platform->addEndpoint(L"speakers", L"Speakers");
    platform->setListFails(true);
    QVERIFY(WasapiCapture::enumerateDevices().empty());
    QVERIFY(WasapiPlayer::enumerateDevices().empty());
}

void TestDeviceEnumeration::removedEndpointIsNeitherListedNorOpened()
{
    platform->addEndpoint(L"speakers", L"Speakers");
    platform->addEndpoint(L"cable", L"CABLE Input");
    platform->removeEndpoint(L"speakers");
    const std::vector<DeviceInfo> remaining = {{L"cable", L"CABLE Input"}};
    QVERIFY(WasapiPlayer::enumerateDevices() == remaining);
    WasapiCapture capture;
    QVERIFY(
        !capture.start(L"speakers", [](const float *, std::uint64_t, CaptureClock::time_point) {}));
    WasapiPlayer player;
    QVERIFY(!player.start(L"speakers", 48000, 2));
    QVERIFY(player.start(L"cable", 48000, 2));
}

void TestDeviceEnumeration::muteOfTheDefaultOutput()
{
    // No default output: nothing to toggle.
    QVERIFY(!platform->toggleDefaultOutputMute());
    platform->addEndpoint(L"speakers", L"Speakers");
    QVERIFY(platform->toggleDefaultOutputMute());
    QVERIFY(platform->isMuted());
    QVERIFY(platform->toggleDefaultOutputMute());
    QVERIFY(!platform->isMuted());
    platform->setMuteReadable(false);
    QVERIFY(!platform->toggleDefaultOutputMute());
    QVERIFY(!platform->isMuted());
    QCOMPARE(platform->muteToggles(), 2);
}

QTEST_GUILESS_MAIN(TestDeviceEnumeration)
#include "tst_deviceenumeration.moc"
