import QtQuick
import QtTest
import "helpers.js" as Helpers

TestCase {
    id: testCase
    name: "MainWindow"
    when: windowShown

    readonly property var mainComponent: Qt.createComponent("qrc:/Kestrune/ui/main.qml")

    function init() {
        serverCore.reset()
        appConfig.reset()
    }

    function createWindow(properties) {
        compare(mainComponent.status, Component.Ready, mainComponent.errorString())
        const window = createTemporaryObject(mainComponent, testCase, properties || {})
        verify(window)
        verify(waitForRendering(window.contentItem))
        return window
    }

    function only(parent, name) {
        const items = Helpers.findAll(parent, name)
        compare(items.length, 1, name)
        return items[0]
    }

    function navEntry(window, index) {
        return only(window.contentItem, "navList").itemAtIndex(index)
    }

    // Closes the window as the desktop would and tells whether the close went through.
    function closeWindow(window) {
        let accepted = null
        const record = function (closeEvent) { accepted = closeEvent.accepted }
        window.closing.connect(record)
        window.close()
        window.closing.disconnect(record)
        verify(accepted !== null)
        return accepted
    }

    function test_opensOnTheServerPage() {
        const window = createWindow()
        compare(window.title, "Kestrune Desktop")
        compare(only(window.contentItem, "navList").currentIndex, 0)
        compare(only(window.contentItem, "pages").currentIndex, 0)
    }

    function test_pageSwitchingKeepsPageState() {
        serverCore.stage({ outputDevices: [{ id: "spk", name: "Speakers" },
                                           { id: "cable", name: "CABLE Input" }] })
        const window = createWindow()
        const pages = only(window.contentItem, "pages")
        const field = only(window.contentItem, "ipInput")
        const playerPage = pages.children[1]

        mouseClick(navEntry(window, 1))
        compare(pages.currentIndex, 1)
        verify(playerPage.visible)
        field.text = "10.0.0.7"
        playerPage.receiveMode = 1

        mouseClick(navEntry(window, 2))
        compare(pages.currentIndex, 2)
        verify(!playerPage.visible)
        mouseClick(navEntry(window, 1))

        compare(pages.children[1], playerPage)
        compare(field.text, "10.0.0.7")
        compare(playerPage.receiveMode, 1)
        compare(serverCore.selectedOutputDevice, "cable")
    }

    function test_captureSwitchesReachTheCore_data() {
        return [
            { tag: "EventSync", option: "enableEventSync", property: "eventSync" },
            { tag: "continuous capture", option: "continuousCapture", property: "continuousCapture" }
        ]
    }

    // The settings and the core do not know each other: the window carries each switch over.
    function test_captureSwitchesReachTheCore(data) {
        appConfig.stage(data.option, false)
        const window = createWindow()
        compare(serverCore[data.property], false)
        mouseClick(navEntry(window, 2))
        const toggle = only(window.contentItem, data.option + "Switch")
        mouseClick(toggle)
        compare(appConfig[data.option], true)
        compare(serverCore[data.property], true)
        mouseClick(toggle)
        compare(serverCore[data.property], false)
    }

    function test_navigationColours_data() {
        return [
            { tag: "dark", dark: true, selected: "#ffffff", glyph: "#9ca3af", label: "#9ca3af" },
            { tag: "light", dark: false, selected: "#111827", glyph: "#9ca3af", label: "#6b7280" }
        ]
    }

    function test_navigationColours(data) {
        appConfig.stage("darkTheme", data.dark)
        const window = createWindow()
        const server = navEntry(window, 0)
        const player = navEntry(window, 1)
        compare(String(Helpers.findTexts(server, "Server")[0].color), data.selected)
        compare(String(Helpers.findTexts(server, "🖧")[0].color), data.selected)
        compare(String(Helpers.findTexts(player, "⏵")[0].color), data.glyph)
        compare(String(Helpers.findTexts(player, "Player")[0].color), data.label)
    }

    function test_themeRecoloursTheWindowLive() {
        const window = createWindow()
        compare(String(window.color), "#0f0f13")
        appConfig.stage("darkTheme", false)
        compare(String(window.color), "#f8f9fa")
    }

    function trayOf(window) {
        for (let i = 0; i < window.data.length; ++i) {
            if (window.data[i].objectName === "trayIcon")
                return window.data[i]
        }
        fail("no tray icon")
    }

    function test_trayTooltipFollowsWhoReceives() {
        const window = createWindow()
        const tray = trayOf(window)
        compare(tray.tooltip, "Kestrune Desktop: not streaming")
        serverCore.stage({ isRunning: true, playerMode: 0,
                           connectedDevices: [{ name: "Pixel 7", ip: "10.0.0.5" }] })
        compare(tray.tooltip, "Streaming to 1 phone: Pixel 7")
        // The player role streams to nobody.
        serverCore.stage({ playerMode: 1 })
        compare(tray.tooltip, "Kestrune Desktop: not streaming")
    }

    function test_coreAsksExactlyWhileTheSettingSaysSo() {
        appConfig.stage("askBeforeStreaming", true)
        createWindow()
        verify(serverCore.askBeforeStreaming)
        appConfig.stage("askBeforeStreaming", false)
        verify(!serverCore.askBeforeStreaming)
    }

    function test_closeHidesToTheTrayOnlyWhereThereIsOne_data() {
        return [
            { tag: "option on, tray", minimize: true, tray: true, accepted: false },
            { tag: "option on, no tray", minimize: true, tray: false, accepted: true },
            { tag: "option off, tray", minimize: false, tray: true, accepted: true }
        ]
    }

    function test_closeHidesToTheTrayOnlyWhereThereIsOne(data) {
        appConfig.stage("minimizeToTray", data.minimize)
        const window = createWindow({ trayAvailable: data.tray })
        compare(closeWindow(window), data.accepted)
        // Hidden or closed, the window is gone from the screen; only a refused close keeps
        // the application going (an accepted close of the last window ends it).
        verify(!window.visible)
        if (!data.accepted) {
            window.restore()
            verify(window.visible)
        }
    }
}
