#include "fakeservercore.h"

FakeServerCore::FakeServerCore(QObject *parent) : QObject(parent) {}

void FakeServerCore::record(const QString &call)
{
    callLog.append(call);
    emit callsChanged();
}

void FakeServerCore::setSelectedDevice(const QString &id)
{
    record(QStringLiteral("setSelectedDevice(%1)").arg(id));
    if (id == selectedDeviceId)
        return;
    selectedDeviceId = id;
    emit selectedDeviceChanged();
}

void FakeServerCore::setSelectedOutputDevice(const QString &id)
{
    record(QStringLiteral("setSelectedOutputDevice(%1)").arg(id));
    if (id == selectedOutputDeviceId)
        return;
    selectedOutputDeviceId = id;
    emit selectedOutputDeviceChanged();
}

void FakeServerCore::setPlayerMode(int newMode)
{
    record(QStringLiteral("setPlayerMode(%1)").arg(newMode));
    if (newMode == mode)
        return;
    mode = newMode;
    emit playerModeChanged();
}

void FakeServerCore::setAskBeforeStreaming(bool on)
{
    record(QStringLiteral("setAskBeforeStreaming(%1)").arg(on ? "true" : "false"));
    if (on == asking)
        return;
    asking = on;
    emit askBeforeStreamingChanged();
}

void FakeServerCore::setEventSync(bool on)
{
    record(QStringLiteral("setEventSync(%1)").arg(on));
    if (on == eventSyncOn)
        return;
    eventSyncOn = on;
    emit eventSyncChanged();
}

void FakeServerCore::setContinuousCapture(bool on)
{
    record(QStringLiteral("setContinuousCapture(%1)").arg(on));
    if (on == continuousCaptureOn)
        return;
    continuousCaptureOn = on;
    emit continuousCaptureChanged();
}

void FakeServerCore::refreshDevices()
{
    record(QStringLiteral("refreshDevices()"));
}

void FakeServerCore::startServer()
{
    record(QStringLiteral("startServer()"));
}

void FakeServerCore::stopServer()
{
    record(QStringLiteral("stopServer()"));
}

void FakeServerCore::connectToAddress(const QString &ip)
{
    record(QStringLiteral("connectToAddress(%1)").arg(ip));
}

void FakeServerCore::setDeviceVolume(const QString &ip, int volume)
{
    record(QStringLiteral("setDeviceVolume(%1, %2)").arg(ip).arg(volume));
}

QString FakeServerCore::createVirtualMicrophone()
{
    record(QStringLiteral("createVirtualMicrophone()"));
    if (virtualMicrophone.isEmpty())
        return QString();
    outputDeviceList.append(virtualMicrophone);
    emit outputDevicesChanged();
    return virtualMicrophone.value(QStringLiteral("id")).toString();
}

void FakeServerCore::allowDevice(const QString &ip)
{
    record(QStringLiteral("allowDevice(%1)").arg(ip));
}

void FakeServerCore::blockDevice(const QString &ip)
{
    record(QStringLiteral("blockDevice(%1)").arg(ip));
}

void FakeServerCore::stage(const QVariantMap &state)
{
    // Every staged value notifies, so bindings re-evaluate as they would on the real core.
    for (auto it = state.cbegin(); it != state.cend(); ++it) {
        const QString &key = it.key();
        const QVariant &value = it.value();
        if (key == QLatin1String("isRunning")) {
            running = value.toBool();
            emit runningChanged();
        } else if (key == QLatin1String("playerMode")) {
            mode = value.toInt();
            emit playerModeChanged();
        } else if (key == QLatin1String("serverName")) {
            connectedServer = value.toString();
            emit serverNameChanged();
        } else if (key == QLatin1String("captureLatencyMs")) {
            captureLatency = value.toInt();
            emit captureLatencyMsChanged();
        } else if (key == QLatin1String("playoutLatencyMs")) {
            playoutLatency = value.toInt();
            emit playoutLatencyMsChanged();
        } else if (key == QLatin1String("eventSync")) {
            eventSyncOn = value.toBool();
            emit eventSyncChanged();
        } else if (key == QLatin1String("continuousCapture")) {
            continuousCaptureOn = value.toBool();
            emit continuousCaptureChanged();
        } else if (key == QLatin1String("selectedDevice")) {
            selectedDeviceId = value.toString();
            emit selectedDeviceChanged();
        } else if (key == QLatin1String("selectedOutputDevice")) {
            selectedOutputDeviceId = value.toString();
            emit selectedOutputDeviceChanged();
        } else if (key == QLatin1String("audioDevices")) {
            audioDeviceList = value.toList();
            emit audioDevicesChanged();
        } else if (key == QLatin1String("outputDevices")) {
            outputDeviceList = value.toList();
            emit outputDevicesChanged();
        } else if (key == QLatin1String("connectedDevices")) {
            connectedDeviceList = value.toList();
            emit connectedDevicesChanged();
        } else if (key == QLatin1String("soundSystemState")) {
            soundState = value.toInt();
            emit soundSystemStateChanged();
        } else if (key == QLatin1String("canCreateVirtualMicrophone")) {
            virtualMicrophoneSupported = value.toBool();
        } else if (key == QLatin1String("virtualMicrophone")) {
            virtualMicrophone = value.toMap();
        } else if (key == QLatin1String("portConflict")) {
            portConflictLine = value.toString();
            emit portConflictChanged();
        } else if (key == QLatin1String("askBeforeStreaming")) {
            asking = value.toBool();
            emit askBeforeStreamingChanged();
        } else if (key == QLatin1String("pendingDevices")) {
            pendingDeviceList = value.toList();
            emit pendingDevicesChanged();
        } else if (key == QLatin1String("resolveError")) {
            unresolved = value.toString();
            emit resolveErrorChanged();
        } else {
            qFatal("FakeServerCore::stage: unknown key %s", qPrintable(key));
        }
    }
}

void FakeServerCore::clearCalls()
{
    callLog.clear();
    emit callsChanged();
}

void FakeServerCore::reset()
{
    stage({{QStringLiteral("isRunning"), false},
           {QStringLiteral("playerMode"), 0},
           {QStringLiteral("serverName"), QString()},
           {QStringLiteral("captureLatencyMs"), 0},
           {QStringLiteral("playoutLatencyMs"), 0},
           {QStringLiteral("eventSync"), true},
           {QStringLiteral("continuousCapture"), true},
           {QStringLiteral("selectedDevice"), QString()},
           {QStringLiteral("selectedOutputDevice"), QString()},
           {QStringLiteral("audioDevices"), QVariantList()},
           {QStringLiteral("outputDevices"), QVariantList()},
           {QStringLiteral("connectedDevices"), QVariantList()},
           {QStringLiteral("soundSystemState"), 0},
           {QStringLiteral("canCreateVirtualMicrophone"), false},
           {QStringLiteral("virtualMicrophone"), QVariantMap()},
           {QStringLiteral("portConflict"), QString()},
           {QStringLiteral("askBeforeStreaming"), false},
           {QStringLiteral("pendingDevices"), QVariantList()},
           {QStringLiteral("resolveError"), QString()}});
    clearCalls();
}
