import QtQuick
import QtTest
import Kestrune 1.0
import "helpers.js" as Helpers

// TestCase items are invisible: the pages live in the visible root beside it.
Item {
    id: root
    width: 1000
    height: 800

    ThemeFollowsSettings {}

    TestCase {
        id: testCase
        name: "ServerTab"
        when: windowShown

        readonly property var phones: [
            { name: "Pixel 7", ip: "10.0.0.5", volume: 30, latency: 0 },
            { name: "Galaxy S23", ip: "10.0.0.6", volume: 80, latency: 0 }
        ]

        Component {
            id: pageComponent
            ServerTab {
                width: root.width
                height: root.height
            }
        }

        function init() {
            serverCore.reset()
            appConfig.reset()
        }

        function createPage() {
            const page = createTemporaryObject(pageComponent, root)
            verify(page)
            waitForRendering(page)
            return page
        }

        function cards(page) {
            return Helpers.findAll(page, "deviceCard")
        }

        function only(page, name) {
            const items = Helpers.findAll(page, name)
            compare(items.length, 1, name)
            return items[0]
        }

        function pick(combo, index) {
            mouseClick(combo)
            tryCompare(combo.popup, "opened", true)
            const entry = combo.popup.contentItem.itemAtIndex(index)
            verify(entry)
            mouseClick(entry)
            tryCompare(combo.popup, "visible", false)
        }

        function test_emptyStateGivesWayToCardsInListOrder() {
            const page = createPage()
            const emptyState = only(page, "emptyState")
            verify(emptyState.visible)
            compare(cards(page).length, 0)

            serverCore.stage({ connectedDevices: phones })
            verify(!emptyState.visible)
            const shown = cards(page)
            compare(shown.length, 2)
            compare(Helpers.findTexts(shown[0], "Pixel 7").length, 1)
            compare(Helpers.findTexts(shown[0], "10.0.0.5").length, 1)
            compare(Helpers.findTexts(shown[1], "Galaxy S23").length, 1)

            serverCore.stage({ connectedDevices: [] })
            verify(emptyState.visible)
            tryCompare(cards(page), "length", 0)
        }

        function test_pendingPhonesWaitForAllowOrBlock() {
            const page = createPage()
            const emptyState = only(page, "emptyState")
            serverCore.stage({ pendingDevices: [{ name: "Pixel 7", ip: "10.0.0.5" },
                                                { name: "Stranger", ip: "10.0.0.8" }] })
            waitForRendering(page)
            const pending = Helpers.findAll(page, "pendingCard")
            compare(pending.length, 2)
            compare(Helpers.findTexts(pending[1], "Stranger").length, 1)
            compare(Helpers.findTexts(pending[1], "10.0.0.8").length, 1)
            // Someone is knocking: the page no longer says that nobody is there.
            verify(!emptyState.visible)
            compare(cards(page).length, 0)

            mouseClick(only(pending[0], "allowButton"))
            mouseClick(only(pending[1], "blockButton"))
            compare(serverCore.calls, ["allowDevice(10.0.0.5)", "blockDevice(10.0.0.8)"])

            serverCore.stage({ pendingDevices: [], connectedDevices: [phones[0]] })
            tryCompare(Helpers.findAll(page, "pendingCard"), "length", 0)
            compare(cards(page).length, 1)
        }

        function test_portConflictShowsOnlyWhenAPortIsTaken() {
            const page = createPage()
            const warning = only(page, "portConflict")
            verify(!warning.visible)
            serverCore.stage({ portConflict: "Port 8081 is in use by another program" })
            verify(warning.visible)
            verify(warning.text.indexOf("Port 8081 is in use by another program") >= 0)
            compare(warning.lineCount, 1)
            serverCore.stage({ portConflict: "" })
            verify(!warning.visible)
        }

        function test_sliderShowsRecordVolumeOrFullVolume() {
            const page = createPage()
            serverCore.stage({ connectedDevices: [phones[0], { name: "Old phone", ip: "10.0.0.9" }] })
            const sliders = Helpers.findAll(page, "volSlider")
            const labels = Helpers.findAll(page, "volumePercent")
            compare(sliders[0].value, 30)
            compare(labels[0].text, "30%")
            compare(sliders[1].value, 100)
            compare(labels[1].text, "100%")
            compare(serverCore.calls, [])
        }

        function test_sliderForwardsIntegerVolumeOnlyWhileHeld() {
            const page = createPage()
            serverCore.stage({ connectedDevices: [phones[0]] })
            waitForRendering(root)
            let slider = only(page, "volSlider")
            const label = only(page, "volumePercent")

            // Pressing and dragging the track sends every step, as whole numbers.
            const y = slider.height / 2
            mousePress(slider, slider.leftPadding + slider.availableWidth * 0.2, y)
            mouseMove(slider, slider.leftPadding + slider.availableWidth * 0.613, y)
            verify(slider.pressed)
            verify(serverCore.calls.length >= 2)
            for (const call of serverCore.calls)
                verify(/^setDeviceVolume\(10\.0\.0\.5, \d+\)$/.test(call), call)
            compare(serverCore.calls[serverCore.calls.length - 1],
                    "setDeviceVolume(10.0.0.5, " + Math.floor(slider.value) + ")")

            // The label rounds, the command drops the fraction.
            slider.value = 49.5
            compare(label.text, "50%")
            compare(serverCore.calls[serverCore.calls.length - 1], "setDeviceVolume(10.0.0.5, 49)")
            mouseRelease(slider, slider.leftPadding + slider.availableWidth * 0.613, y)

            // A new record list moves the slider without sending anything back.
            serverCore.clearCalls()
            serverCore.stage({ connectedDevices: [{ name: "Pixel 7", ip: "10.0.0.5", volume: 75 }] })
            tryVerify(function () { return Helpers.findAll(page, "volSlider").length === 1 })
            slider = only(page, "volSlider")
            compare(slider.value, 75)
            compare(only(page, "volumePercent").text, "75%")
            compare(serverCore.calls, [])
        }

        function test_buttonAndLatencyFollowTheStreamingCondition_data() {
            return [
                { tag: "idle", running: false, mode: 0, dark: true, text: "Start Streaming",
                  fill: "#2563eb", latency: "Idle", latencyColor: "#f9fafb" },
                { tag: "idle, light", running: false, mode: 0, dark: false, text: "Start Streaming",
                  fill: "#2563eb", latency: "Idle", latencyColor: "#111827" },
                { tag: "streaming", running: true, mode: 0, dark: true, text: "Stop Streaming",
                  fill: "#ef4444", latency: "12 ms", latencyColor: "#10b981" },
                { tag: "player role", running: true, mode: 1, dark: true, text: "Start Streaming",
                  fill: "#2563eb", latency: "Idle", latencyColor: "#f9fafb" },
                { tag: "stopped player", running: false, mode: 1, dark: false, text: "Start Streaming",
                  fill: "#2563eb", latency: "Idle", latencyColor: "#111827" }
            ]
        }

        function test_buttonAndLatencyFollowTheStreamingCondition(data) {
            const page = createPage()
            appConfig.stage("darkTheme", data.dark)
            serverCore.stage({ isRunning: data.running, playerMode: data.mode, captureLatencyMs: 12 })
            const button = only(page, "streamButton")
            const latency = only(page, "latencyValue")
            compare(button.text, data.text)
            compare(button.contentItem.text, data.text)
            compare(String(button.background.color), data.fill)
            compare(String(button.contentItem.color), "#ffffff")
            compare(latency.text, data.latency)
            compare(String(latency.color), data.latencyColor)
        }

        function test_buttonClick_data() {
            return [
                { tag: "idle", running: false, mode: 0, calls: ["setPlayerMode(0)", "startServer()"] },
                { tag: "streaming", running: true, mode: 0, calls: ["stopServer()"] },
                // startServer ends the player role itself; the page must not stop it first.
                { tag: "player role", running: true, mode: 1,
                  calls: ["setPlayerMode(0)", "startServer()"] }
            ]
        }

        function test_buttonClick(data) {
            const page = createPage()
            serverCore.stage({ isRunning: data.running, playerMode: data.mode })
            mouseClick(only(page, "streamButton"))
            compare(serverCore.calls, data.calls)
        }

        function test_comboStartsOnFirstDeviceAndWritesEveryPick() {
            serverCore.stage({
                audioDevices: [{ id: "spk", name: "Speakers" }, { id: "cable", name: "CABLE Input" }],
                selectedDevice: "cable"
            })
            const page = createPage()
            const combo = only(page, "audioDeviceCombo")
            compare(combo.currentIndex, 0)
            compare(combo.displayText, "Speakers")
            compare(serverCore.calls, [])

            pick(combo, 0)
            compare(serverCore.calls, ["setSelectedDevice(spk)"])
            pick(combo, 1)
            pick(combo, 1)
            compare(serverCore.calls,
                    ["setSelectedDevice(spk)", "setSelectedDevice(cable)", "setSelectedDevice(cable)"])
        }

        function test_emptyDeviceListSaysWhy() {
            serverCore.stage({ soundSystemState: 2 })
            const page = createPage()
            const combo = only(page, "audioDeviceCombo")
            compare(combo.displayText, "No sound server")
            serverCore.stage({ soundSystemState: 1 })
            compare(combo.displayText, "No audio devices")
            serverCore.stage({ soundSystemState: 0,
                               audioDevices: [{ id: "spk", name: "Speakers" }] })
            compare(combo.displayText, "Speakers")
        }

        // The list is replaced as devices come and go: the chosen device stays shown while it
        // is listed, and a device that went away is not shown as another one.
        function test_comboKeepsTheChosenDeviceAcrossListChanges() {
            const speakers = { id: "spk", name: "Speakers" }
            const cable = { id: "cable", name: "CABLE Input" }
            const usb = { id: "usb", name: "USB Headset" }
            serverCore.stage({ audioDevices: [speakers, cable] })
            const page = createPage()
            const combo = only(page, "audioDeviceCombo")

            serverCore.stage({ audioDevices: [usb, speakers, cable] })
            compare(combo.currentIndex, 0) // nothing chosen: the first entry, as at the start
            pick(combo, 2)
            serverCore.stage({ audioDevices: [speakers, usb, cable] })
            compare(combo.displayText, "CABLE Input")
            serverCore.stage({ audioDevices: [speakers, usb] })
            compare(combo.currentIndex, -1)
            compare(serverCore.selectedDevice, "cable")
            serverCore.stage({ audioDevices: [cable, speakers, usb] })
            compare(combo.currentIndex, 0)
            compare(combo.displayText, "CABLE Input")
            compare(serverCore.calls, ["setSelectedDevice(cable)"])
        }
    }
}
