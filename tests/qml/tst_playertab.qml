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
        name: "PlayerTab"
        when: windowShown

        readonly property var speakers: ({ id: "spk", name: "Speakers" })
        readonly property var headphones: ({ id: "hp", name: "Headphones" })
        readonly property var cable: ({ id: "cable", name: "CABLE Input" })
        readonly property var phones: [
            { name: "Pixel 7", ip: "10.0.0.5", volume: 100, latency: 0 },
            { name: "Galaxy S23", ip: "10.0.0.6", volume: 100, latency: 0 }
        ]

        Component {
            id: pageComponent
            PlayerTab {
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

        function only(page, name) {
            const items = Helpers.findAll(page, name)
            compare(items.length, 1, name)
            return items[0]
        }

        // Clicks the option's row away from its radio button.
        function chooseMode(page, optionName) {
            const option = only(page, optionName)
            mouseClick(option, option.width - 10, option.height / 2)
        }

        function pick(combo, index) {
            mouseClick(combo)
            tryCompare(combo.popup, "opened", true)
            const entry = combo.popup.contentItem.itemAtIndex(index)
            verify(entry)
            mouseClick(entry)
            tryCompare(combo.popup, "visible", false)
        }

        function test_micSearchPicksFirstVirtualDevice_data() {
            return [
                { tag: "cable, any letter case", devices: [speakers, cable], expected: "cable" },
                { tag: "voicemeeter, any letter case",
                  devices: [speakers, { id: "vm", name: "VoiceMeeter Aux Input" }], expected: "vm" },
                { tag: "virtual", devices: [speakers, { id: "virt", name: "Virtual Speakers" }],
                  expected: "virt" },
                // Decided per device, not per word: "cable" is no stronger than "virtual".
                { tag: "first in list order",
                  devices: [headphones, { id: "virt", name: "Virtual Speakers" }, cable],
                  expected: "virt" }
            ]
        }

        function test_micSearchPicksFirstVirtualDevice(data) {
            serverCore.stage({ outputDevices: data.devices, selectedOutputDevice: data.devices[0].id })
            const page = createPage()
            const combo = only(page, "outputDeviceCombo")
            chooseMode(page, "micOption")
            compare(page.receiveMode, 1)
            compare(serverCore.selectedOutputDevice, data.expected)
            compare(page.savedMicDevice, data.expected)
            compare(page.savedPlaybackDevice, data.devices[0].id)
            compare(combo.currentText, data.devices.find(d => d.id === data.expected).name)
        }

        function test_micWithoutVirtualDeviceKeepsPlaybackDeviceForGood() {
            serverCore.stage({ outputDevices: [speakers, headphones], selectedOutputDevice: "hp" })
            const page = createPage()
            const combo = only(page, "outputDeviceCombo")
            compare(combo.currentText, "Headphones")

            chooseMode(page, "micOption")
            compare(serverCore.selectedOutputDevice, "hp")
            compare(page.savedMicDevice, "")
            verify(!serverCore.calls.includes("setSelectedOutputDevice(spk)"))

            chooseMode(page, "playbackOption")
            compare(page.savedMicDevice, "hp")

            // The saved id wins over a new search, even once a cable has appeared.
            serverCore.stage({ outputDevices: [speakers, headphones, cable] })
            chooseMode(page, "micOption")
            compare(serverCore.selectedOutputDevice, "hp")
        }

        function test_switchingModesSwapsSavedDevices() {
            serverCore.stage({ outputDevices: [speakers, headphones, cable], selectedOutputDevice: "hp" })
            const page = createPage()
            const combo = only(page, "outputDeviceCombo")
            const micCard = only(page, "virtualMicCard")
            const title = only(page, "outputTitle")
            verify(!micCard.visible)
            compare(title.text, "Audio device")

            chooseMode(page, "micOption")
            compare(serverCore.selectedOutputDevice, "cable")
            compare(combo.currentText, "CABLE Input")
            verify(micCard.visible)
            compare(title.text, "Virtual Audio Cable")

            chooseMode(page, "playbackOption")
            compare(serverCore.selectedOutputDevice, "hp")
            compare(page.savedMicDevice, "cable")
            compare(combo.currentText, "Headphones")
            verify(!micCard.visible)

            // A pick in Mic mode is what Mic mode returns to.
            chooseMode(page, "micOption")
            pick(combo, 1)
            chooseMode(page, "playbackOption")
            compare(serverCore.selectedOutputDevice, "hp")
            chooseMode(page, "micOption")
            compare(serverCore.selectedOutputDevice, "spk")
            compare(combo.currentText, "Speakers")
        }

        function test_playbackReturnsToTheDefaultDevice() {
            // An empty selection is the default device; Playback goes back to it after Mic,
            // and the box shows the device that plays all the way round.
            serverCore.stage({ outputDevices: [speakers, cable] })
            const page = createPage()
            const combo = only(page, "outputDeviceCombo")
            compare(combo.currentText, "Default")
            chooseMode(page, "micOption")
            compare(serverCore.selectedOutputDevice, "cable")
            compare(combo.currentText, "CABLE Input")
            serverCore.clearCalls()
            chooseMode(page, "playbackOption")
            compare(serverCore.calls, ["setSelectedOutputDevice()"])
            compare(serverCore.selectedOutputDevice, "")
            compare(combo.currentText, "Default")
            compare(page.savedMicDevice, "cable")

            // Picking the default entry selects the empty id.
            pick(combo, 1)
            compare(serverCore.selectedOutputDevice, "spk")
            pick(combo, 0)
            compare(serverCore.selectedOutputDevice, "")
            compare(page.savedPlaybackDevice, "")
        }

        function test_radioButtonAndRowBothChooseTheMode() {
            const page = createPage()
            const micRadio = only(only(page, "micOption"), "modeRadio")
            mouseClick(micRadio)
            compare(page.receiveMode, 1)
            verify(micRadio.checked)
            chooseMode(page, "playbackOption")
            compare(page.receiveMode, 0)
            verify(!micRadio.checked)
        }

        function test_comboPickUpdatesOnlyTheCurrentModesDevice() {
            serverCore.stage({ outputDevices: [speakers, headphones, cable] })
            const page = createPage()
            const combo = only(page, "outputDeviceCombo")
            compare(combo.currentText, "Default")

            pick(combo, 2)
            compare(serverCore.selectedOutputDevice, "hp")
            compare(page.savedPlaybackDevice, "hp")
            compare(page.savedMicDevice, "")

            chooseMode(page, "micOption")
            compare(page.savedMicDevice, "cable")
            pick(combo, 1)
            compare(serverCore.selectedOutputDevice, "spk")
            compare(page.savedMicDevice, "spk")
            compare(page.savedPlaybackDevice, "hp")
        }

        function test_comboFollowsTheSelectionFromAnywhere() {
            serverCore.stage({ outputDevices: [speakers, headphones, cable], selectedOutputDevice: "cable" })
            const combo = only(createPage(), "outputDeviceCombo")
            compare(combo.currentText, "CABLE Input")
            // The core changes it, or the list changes under it.
            serverCore.stage({ selectedOutputDevice: "spk" })
            compare(combo.currentText, "Speakers")
            serverCore.stage({ outputDevices: [cable, speakers] })
            compare(combo.currentText, "Speakers")
            // A device that is gone is not shown as if it played.
            serverCore.stage({ selectedOutputDevice: "gone" })
            compare(combo.currentIndex, -1)
            compare(serverCore.calls, [])
        }

        function test_connectByAddress() {
            const page = createPage()
            const field = only(page, "ipInput")
            const button = only(page, "connectButton")

            field.text = "   "
            mouseClick(button)
            compare(serverCore.calls, [])

            field.text = "  10.0.0.7 "
            mouseClick(button)
            compare(serverCore.calls, ["connectToAddress(10.0.0.7)"])
            compare(button.text, "CONNECT")

            serverCore.stage({ isRunning: true, playerMode: 1, serverName: "10.0.0.7" })
            compare(button.text, "DISCONNECT")
            compare(String(button.background.color), "#7f1d1d")
            compare(String(button.background.border.color), "#ef4444")
            compare(String(button.contentItem.color), "#ef4444")
            appConfig.stage("darkTheme", false)
            compare(String(button.background.color), "#fee2e2")
            serverCore.clearCalls()
            mouseClick(button)
            compare(serverCore.calls, ["stopServer()"])

            // Another address: stop what runs, then connect to it.
            field.text = "10.0.0.8"
            compare(button.text, "CONNECT")
            compare(String(button.background.border.color), "#2563eb")
            serverCore.clearCalls()
            mouseClick(button)
            compare(serverCore.calls, ["stopServer()", "connectToAddress(10.0.0.8)"])
        }

        function test_disconnectOnlyForThePlayerRoleWithThatAddress_data() {
            return [
                { tag: "server role", running: true, mode: 0, server: "10.0.0.7" },
                { tag: "stopped", running: false, mode: 1, server: "10.0.0.7" },
                { tag: "other address", running: true, mode: 1, server: "10.0.0.70" },
                { tag: "letter case differs", running: true, mode: 1, server: "Phone.local" }
            ]
        }

        function test_disconnectOnlyForThePlayerRoleWithThatAddress(data) {
            const page = createPage()
            only(page, "ipInput").text = data.tag === "letter case differs" ? "phone.local" : "10.0.0.7"
            serverCore.stage({ isRunning: data.running, playerMode: data.mode, serverName: data.server })
            compare(only(page, "connectButton").text, "CONNECT")
        }

        function test_unresolvedNameIsSaidUnderTheField() {
            const page = createPage()
            const line = only(page, "resolveError")
            verify(!line.visible)
            serverCore.stage({ resolveError: "Cannot resolve phone.local" })
            verify(line.visible)
            compare(line.text, "Cannot resolve phone.local")
            serverCore.stage({ resolveError: "" })
            verify(!line.visible)
        }

        function test_serverCards() {
            const page = createPage()
            const noServer = only(page, "noServer")
            verify(noServer.visible)
            compare(Helpers.findAll(page, "entryButton").length, 0)

            serverCore.stage({ connectedDevices: phones })
            waitForRendering(root)
            verify(!noServer.visible)
            let buttons = Helpers.findAll(page, "entryButton")
            compare(buttons.length, 2)
            for (const button of buttons) {
                verify(button.enabled)
                compare(button.text, "CONNECT")
                compare(String(button.contentItem.color), "#2563eb")
            }
            mouseClick(buttons[1])
            compare(serverCore.calls, ["connectToAddress(10.0.0.6)"])

            // The server role greys every entry out.
            serverCore.stage({ isRunning: true, playerMode: 0 })
            for (const button of buttons) {
                verify(!button.enabled)
                compare(button.text, "CONNECT")
                compare(String(button.background.border.color), "#4b5563")
                compare(String(button.contentItem.color), "#9ca3af")
            }

            // Connected to the second entry: only it answers, with DISCONNECT.
            serverCore.stage({ playerMode: 1, serverName: "10.0.0.6" })
            verify(!buttons[0].enabled)
            verify(buttons[1].enabled)
            compare(buttons[1].text, "DISCONNECT")
            compare(String(buttons[1].background.color), "#7f1d1d")
            serverCore.clearCalls()
            mouseClick(buttons[0])
            mouseClick(buttons[1])
            compare(serverCore.calls, ["stopServer()"])
        }

        function test_virtualMicrophoneIsOfferedOnlyWhereItHelps_data() {
            return [
                { tag: "no virtual device", supported: true, state: 0, devices: [speakers, headphones],
                  offered: true },
                { tag: "a cable is there", supported: true, state: 0, devices: [speakers, cable],
                  offered: false },
                { tag: "the sound system cannot make one", supported: false, state: 0,
                  devices: [speakers, headphones], offered: false },
                { tag: "no sound server", supported: true, state: 2, devices: [], offered: false }
            ]
        }

        function test_virtualMicrophoneIsOfferedOnlyWhereItHelps(data) {
            serverCore.stage({ canCreateVirtualMicrophone: data.supported, soundSystemState: data.state,
                               outputDevices: data.devices })
            const page = createPage()
            const button = only(page, "createVirtualMicButton")
            verify(!button.visible)
            chooseMode(page, "micOption")
            compare(button.visible, data.offered)
        }

        // Made, it is listed and Mic mode takes it, as it would take any virtual device.
        function test_createdVirtualMicrophoneIsSelected() {
            const made = { id: "kestrune_virtual_cable", name: "Kestrune Virtual Cable" }
            serverCore.stage({ canCreateVirtualMicrophone: true, outputDevices: [speakers, headphones],
                               selectedOutputDevice: "hp", virtualMicrophone: made })
            const page = createPage()
            const combo = only(page, "outputDeviceCombo")
            const button = only(page, "createVirtualMicButton")
            chooseMode(page, "micOption")
            serverCore.clearCalls()
            mouseClick(button)
            compare(serverCore.calls, ["createVirtualMicrophone()",
                                       "setSelectedOutputDevice(kestrune_virtual_cable)"])
            compare(page.savedMicDevice, made.id)
            compare(combo.displayText, made.name)
            verify(!button.visible)

            chooseMode(page, "playbackOption")
            compare(serverCore.selectedOutputDevice, "hp")
            chooseMode(page, "micOption")
            compare(serverCore.selectedOutputDevice, made.id)
        }

        function test_latencyShowsUnderTheConnectedServer() {
            serverCore.stage({ connectedDevices: phones })
            const page = createPage()
            const lines = Helpers.findAll(page, "playoutLatency")
            compare(lines.length, 2)
            serverCore.stage({ isRunning: true, playerMode: 1, serverName: "10.0.0.6",
                               playoutLatencyMs: 34 })
            verify(!lines[0].visible)
            verify(lines[1].visible)
            compare(lines[1].text, "Latency 34 ms")
            serverCore.stage({ playoutLatencyMs: 41 })
            compare(lines[1].text, "Latency 41 ms")
            // Nothing measured yet, or nothing playing: no line.
            serverCore.stage({ playoutLatencyMs: 0 })
            verify(!lines[1].visible)
            serverCore.stage({ playoutLatencyMs: 34, isRunning: false })
            verify(!lines[1].visible)
        }
    }
}
