import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Kestrune

Item {
    id: playerTab

    property int receiveMode: 0
    property string savedPlaybackDevice: ""
    property string savedMicDevice: ""

    readonly property string typedAddress: ipInput.text.trim()
    readonly property bool addressConnected: serverCore.isRunning && serverCore.playerMode === 1
                                             && typedAddress !== ""
                                             && serverCore.serverName === typedAddress

    // What the output box offers: the default device (the empty id), then every output;
    // nothing when there are no outputs, so that the box says why.
    readonly property var outputChoices: {
        const devices = serverCore.outputDevices
        const choices = devices.length > 0 ? [{ id: "", name: "Default" }] : []
        for (let i = 0; i < devices.length; ++i)
            choices.push(devices[i])
        return choices
    }

    // The box shows the device that plays, whoever chose it: a pick, a mode switch or the
    // core; no entry when that device is not among the outputs.
    function alignOutputCombo() {
        const selected = serverCore.selectedOutputDevice
        outputDeviceCombo.currentIndex = outputChoices.findIndex(choice => choice.id === selected)
    }

    Connections {
        target: serverCore
        function onSelectedOutputDeviceChanged() { playerTab.alignOutputCombo() }
    }

    // The first device whose name holds any of the words wins, not the first word.
    function findVirtualDevice() {
        const devices = serverCore.outputDevices
        for (let i = 0; i < devices.length; ++i) {
            const name = String(devices[i].name).toLowerCase()
            if (name.includes("cable") || name.includes("virtual") || name.includes("voicemeeter"))
                return devices[i]
        }
        return null
    }

    // Where the sound system can make one and Mic mode finds no virtual device to use.
    readonly property bool offerVirtualMicrophone: receiveMode === 1
                                                   && serverCore.canCreateVirtualMicrophone
                                                   && serverCore.soundSystemState !== 2
                                                   && findVirtualDevice() === null

    function createVirtualMicrophone() {
        const id = serverCore.createVirtualMicrophone()
        if (id === "")
            return
        serverCore.selectedOutputDevice = id
        savedMicDevice = id
    }

    onReceiveModeChanged: {
        if (receiveMode === 1) {
            savedPlaybackDevice = serverCore.selectedOutputDevice
            if (savedMicDevice !== "") {
                serverCore.selectedOutputDevice = savedMicDevice
            } else {
                const found = findVirtualDevice()
                if (found) {
                    serverCore.selectedOutputDevice = found.id
                    savedMicDevice = found.id
                }
            }
        } else {
            savedMicDevice = serverCore.selectedOutputDevice
            // Written even when empty: an empty id is the default device, which is what
            // Playback used before the switch to Mic.
            serverCore.selectedOutputDevice = savedPlaybackDevice
        }
    }

    component TitleText: Text {
        color: Theme.title
    }

    component SecondaryText: Text {
        color: Theme.secondaryText
    }

    component HelpLine: SecondaryText {
        font.pixelSize: 13
        wrapMode: Text.WordWrap
        Layout.fillWidth: true
    }

    component Card: Pane {
        Layout.fillWidth: true
        background: Rectangle {
            radius: 12
            color: Theme.card
            border.width: 1
            border.color: Theme.border
        }
    }

    component InspectorCard: Pane {
        Layout.fillWidth: true
        Layout.leftMargin: 24
        Layout.rightMargin: 24
        padding: 20
        background: Rectangle {
            radius: 12
            color: Theme.card
            border.width: 1
            border.color: Theme.inspectorCardBorder
        }
    }

    component Disc: Rectangle {
        property alias glyph: glyphText.text
        property alias glyphSize: glyphText.font.pixelSize

        implicitWidth: 48
        implicitHeight: 48
        radius: 24
        color: Theme.avatar

        Text {
            id: glyphText
            anchors.centerIn: parent
        }
    }

    component Feature: RowLayout {
        property alias glyph: disc.glyph
        property alias title: featureTitle.text
        property alias description: featureDescription.text

        spacing: 20

        Disc {
            id: disc
            glyphSize: 20
        }

        ColumnLayout {
            spacing: 4

            TitleText {
                id: featureTitle
                font.pixelSize: 16
                font.bold: true
            }
            SecondaryText {
                id: featureDescription
                font.pixelSize: 13
            }
        }
    }

    // The whole row is the click target; the radio button keeps its own clicks. Which option
    // is checked follows receiveMode alone.
    component ModeOption: MouseArea {
        id: option

        property bool checked
        property alias title: optionTitle.text
        property alias description: optionDescription.text
        signal chosen()

        Layout.fillWidth: true
        implicitWidth: optionRow.implicitWidth
        implicitHeight: optionRow.implicitHeight
        onClicked: option.chosen()

        RowLayout {
            id: optionRow
            spacing: 12

            RadioButton {
                objectName: "modeRadio"
                checked: option.checked
                onClicked: option.chosen()
            }

            ColumnLayout {
                spacing: 4

                TitleText {
                    id: optionTitle
                    font.pixelSize: 14
                    font.bold: true
                }
                SecondaryText {
                    id: optionDescription
                    font.pixelSize: 13
                }
            }
        }
    }

    // CONNECT in blue, grey while disabled; DISCONNECT in red once connected.
    component ConnectButton: Button {
        id: connectControl

        property bool connected

        text: connected ? "DISCONNECT" : "CONNECT"
        background: Rectangle {
            radius: 6
            border.width: 1
            border.color: connectControl.connected ? Theme.danger
                        : connectControl.enabled ? Theme.accent : Theme.disabledBorder
            color: connectControl.connected ? Theme.dangerFill : "transparent"
        }
        contentItem: Text {
            text: connectControl.text
            font.bold: true
            color: connectControl.connected ? Theme.danger
                 : connectControl.enabled ? Theme.accent : Theme.disabledText
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
        }
    }

    RowLayout {
        anchors.fill: parent
        spacing: 0

        Item {
            Layout.fillWidth: true
            Layout.fillHeight: true

            ScrollView {
                id: mainScroll
                anchors.fill: parent
                contentWidth: availableWidth
                clip: true

                ColumnLayout {
                    width: mainScroll.availableWidth
                    height: Math.max(implicitHeight, mainScroll.availableHeight)
                    spacing: 24

                    Card {
                        Layout.topMargin: 40
                        Layout.leftMargin: 40
                        Layout.rightMargin: 40
                        padding: 24

                        ColumnLayout {
                            anchors.fill: parent
                            spacing: 16

                            TitleText {
                                text: "Player"
                                font.pixelSize: 20
                                font.bold: true
                            }
                            SecondaryText {
                                text: "Receive the audio of another device"
                                font.pixelSize: 14
                            }
                            Rectangle {
                                Layout.fillWidth: true
                                height: 1
                                color: Theme.divider
                            }
                            Feature {
                                glyph: "🔊"
                                title: "Receive audio"
                                description: "Listen to the audio of another device on this computer"
                            }
                            Feature {
                                glyph: "🎤"
                                title: "Receive mic input"
                                description: "Use another device as mic input\nA virtual audio device is necessary"
                            }
                        }
                    }

                    Card {
                        Layout.leftMargin: 40
                        Layout.rightMargin: 40
                        padding: 24

                        ColumnLayout {
                            anchors.fill: parent
                            spacing: 12

                            TitleText {
                                text: "Connect by address"
                                font.pixelSize: 16
                                font.bold: true
                            }
                            SecondaryText {
                                text: "IP address or hostname"
                                font.pixelSize: 13
                            }
                            RowLayout {
                                Layout.fillWidth: true
                                spacing: 16

                                TextField {
                                    id: ipInput
                                    objectName: "ipInput"
                                    Layout.fillWidth: true
                                    Layout.preferredHeight: 40
                                    placeholderText: "192.168.x.x"
                                    placeholderTextColor: Theme.placeholderText
                                    color: Theme.title
                                    leftPadding: 12
                                    rightPadding: 12
                                    topPadding: 10
                                    bottomPadding: 10
                                    verticalAlignment: TextInput.AlignVCenter
                                    font.pixelSize: 14
                                    background: Rectangle {
                                        radius: 6
                                        color: Theme.inset
                                        border.width: 1
                                        border.color: ipInput.activeFocus ? Theme.accent : "transparent"
                                    }
                                }

                                ConnectButton {
                                    objectName: "connectButton"
                                    Layout.preferredHeight: 40
                                    connected: playerTab.addressConnected

                                    onClicked: {
                                        if (playerTab.addressConnected) {
                                            serverCore.stopServer()
                                        } else if (playerTab.typedAddress !== "") {
                                            if (serverCore.isRunning)
                                                serverCore.stopServer()
                                            serverCore.connectToAddress(playerTab.typedAddress)
                                        }
                                    }
                                }
                            }

                            // A host name that does not resolve leaves the player connected
                            // but silent: say why.
                            PeerText {
                                objectName: "resolveError"
                                visible: serverCore.resolveError !== ""
                                text: serverCore.resolveError
                                font.pixelSize: 13
                                color: Theme.danger
                            }
                        }
                    }

                    TitleText {
                        text: "Servers"
                        font.pixelSize: 20
                        font.bold: true
                        Layout.topMargin: 20
                        Layout.leftMargin: 40
                    }

                    Pane {
                        objectName: "noServer"
                        Layout.fillWidth: true
                        Layout.leftMargin: 40
                        Layout.rightMargin: 40
                        padding: 24
                        visible: serverCore.connectedDevices.length === 0
                        background: Rectangle {
                            radius: 12
                            color: "transparent"
                            border.width: 1
                            border.color: Theme.border
                        }

                        SecondaryText {
                            anchors.centerIn: parent
                            text: "No server found"
                            font.pixelSize: 16
                        }
                    }

                    ColumnLayout {
                        Layout.fillWidth: true
                        Layout.leftMargin: 40
                        Layout.rightMargin: 40
                        spacing: 16

                        Repeater {
                            model: serverCore.connectedDevices

                            delegate: Card {
                                id: serverCard

                                required property var modelData

                                objectName: "serverCard"
                                readonly property bool connected: serverCore.isRunning
                                                                  && serverCore.playerMode === 1
                                                                  && serverCore.serverName === modelData.ip

                                padding: 20

                                RowLayout {
                                    anchors.fill: parent
                                    spacing: 20

                                    Disc {
                                        glyph: "📱"
                                        glyphSize: 24
                                    }

                                    // A layout grows no wider than its children allow: the texts fill, so the
                                    // column takes the row's spare width.
                                    ColumnLayout {
                                        Layout.fillWidth: true
                                        spacing: 4

                                        PeerText {
                                            text: serverCard.modelData.name
                                            font.pixelSize: 16
                                            font.bold: true
                                            color: Theme.title
                                        }
                                        PeerText {
                                            text: serverCard.modelData.ip
                                            font.pixelSize: 13
                                            color: Theme.secondaryText
                                        }
                                        SecondaryText {
                                            objectName: "playoutLatency"
                                            text: "Latency " + serverCore.playoutLatencyMs + " ms"
                                            font.pixelSize: 13
                                            Layout.fillWidth: true
                                            visible: serverCard.connected
                                                     && serverCore.playoutLatencyMs > 0
                                        }
                                    }

                                    ConnectButton {
                                        objectName: "entryButton"
                                        Layout.preferredHeight: 36
                                        connected: serverCard.connected
                                        // Another run (server role or another connection) locks
                                        // the entry; its own connection leaves it free to end.
                                        enabled: !serverCore.isRunning || serverCard.connected

                                        onClicked: {
                                            if (serverCard.connected)
                                                serverCore.stopServer()
                                            else
                                                serverCore.connectToAddress(serverCard.modelData.ip)
                                        }
                                    }
                                }
                            }
                        }
                    }

                    Item {
                        Layout.fillHeight: true
                    }
                }
            }
        }

        Rectangle {
            Layout.fillHeight: true
            Layout.preferredWidth: 360
            color: Theme.inspector
            border.width: 1
            border.color: Theme.border

            ScrollView {
                id: inspectorScroll
                anchors.fill: parent
                contentWidth: availableWidth
                clip: true

                ColumnLayout {
                    width: inspectorScroll.availableWidth
                    height: Math.max(implicitHeight, inspectorScroll.availableHeight)
                    spacing: 24

                    InspectorCard {
                        Layout.topMargin: 24

                        ColumnLayout {
                            anchors.fill: parent
                            spacing: 16

                            TitleText {
                                text: "Mode"
                                font.pixelSize: 16
                                font.bold: true
                            }
                            ModeOption {
                                objectName: "micOption"
                                title: "Mic"
                                description: "Use your phone's mic"
                                checked: playerTab.receiveMode === 1
                                onChosen: playerTab.receiveMode = 1
                            }
                            ModeOption {
                                objectName: "playbackOption"
                                title: "Playback"
                                description: "Listen to another device"
                                checked: playerTab.receiveMode === 0
                                onChosen: playerTab.receiveMode = 0
                            }
                        }
                    }

                    InspectorCard {
                        objectName: "virtualMicCard"
                        visible: playerTab.receiveMode === 1

                        ColumnLayout {
                            anchors.fill: parent
                            spacing: 12

                            RowLayout {
                                spacing: 8

                                Text {
                                    text: "❔"
                                    font.pixelSize: 16
                                }
                                TitleText {
                                    text: "Virtual mic"
                                    font.pixelSize: 16
                                    font.bold: true
                                }
                            }
                            HelpLine {
                                text: "Select your Virtual Audio Cable below to route the audio into it."
                            }
                            HelpLine {
                                text: Qt.platform.os === "windows"
                                      ? "Either set the virtual mic as the default input device in Windows settings."
                                      : "Either set the virtual mic as the default input device in the sound settings of your desktop."
                            }
                            HelpLine {
                                text: "Or select it directly in apps such as Zoom or Discord."
                            }
                        }
                    }

                    InspectorCard {
                        ColumnLayout {
                            anchors.fill: parent
                            spacing: 12

                            TitleText {
                                objectName: "outputTitle"
                                text: playerTab.receiveMode === 1 ? "Virtual Audio Cable" : "Audio device"
                                font.pixelSize: 16
                                font.bold: true
                            }
                            HelpLine {
                                text: playerTab.receiveMode === 1
                                      ? "Select the virtual playback device (e.g. CABLE Input)"
                                      : "Select where to play the received audio"
                            }
                            Button {
                                objectName: "createVirtualMicButton"
                                Layout.fillWidth: true
                                text: "Create virtual microphone"
                                visible: playerTab.offerVirtualMicrophone
                                onClicked: playerTab.createVirtualMicrophone()
                            }
                            DeviceComboBox {
                                id: outputDeviceCombo
                                objectName: "outputDeviceCombo"
                                Layout.fillWidth: true
                                Layout.topMargin: 4
                                model: playerTab.outputChoices
                                selectedId: serverCore.selectedOutputDevice
                                Component.onCompleted: playerTab.alignOutputCombo()

                                onActivated: index => {
                                    const id = playerTab.outputChoices[index].id
                                    serverCore.selectedOutputDevice = id
                                    if (playerTab.receiveMode === 1)
                                        playerTab.savedMicDevice = id
                                    else
                                        playerTab.savedPlaybackDevice = id
                                }
                            }
                        }
                    }

                    Item {
                        Layout.fillHeight: true
                    }
                }
            }
        }
    }
}
