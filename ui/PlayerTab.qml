import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

Item {
    id: playerTab

    property int receiveMode: 0
    property string savedPlaybackDevice: ""
    property string savedMicDevice: ""

    readonly property string typedAddress: ipInput.text.trim()
    readonly property bool addressConnected: serverCore.isRunning && serverCore.playerMode === 1
                                             && typedAddress !== ""
                                             && serverCore.serverName === typedAddress

    function isConnectedTo(ip) {
        return serverCore.isRunning && serverCore.playerMode === 1 && serverCore.serverName === ip
    }

    function alignOutputCombo() {
        const selected = serverCore.selectedOutputDevice
        const devices = serverCore.outputDevices
        for (let i = 0; i < devices.length; ++i) {
            if (devices[i].id === selected) {
                outputDeviceCombo.currentIndex = i
                return
            }
        }
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
        alignOutputCombo()
    }

    QtObject {
        id: colors

        readonly property bool dark: appConfig.darkTheme
        readonly property color title: dark ? "#F9FAFB" : "#111827"
        readonly property color secondary: dark ? "#9CA3AF" : "#6B7280"
        readonly property color card: dark ? "#1F2937" : "#FFFFFF"
        readonly property color outline: dark ? "#374151" : "#E5E7EB"
        readonly property color inspector: dark ? "#111827" : "#F9FAFB"
        readonly property color inspectorOutline: dark ? "#374151" : "#F3F4F6"
        readonly property color disc: dark ? "#374151" : "#EFF6FF"
        readonly property color disconnectFill: dark ? "#7F1D1D" : "#FEE2E2"
    }

    component Card: Pane {
        Layout.fillWidth: true
        background: Rectangle {
            radius: 12
            color: colors.card
            border.width: 1
            border.color: colors.outline
        }
    }

    component InspectorCard: Pane {
        Layout.fillWidth: true
        Layout.leftMargin: 24
        Layout.rightMargin: 24
        padding: 20
        background: Rectangle {
            radius: 12
            color: colors.card
            border.width: 1
            border.color: colors.inspectorOutline
        }
    }

    component Feature: RowLayout {
        property alias glyph: glyphText.text
        property alias title: titleText.text
        property alias description: descriptionText.text

        spacing: 20

        Rectangle {
            width: 48
            height: 48
            radius: 24
            color: colors.disc

            Text {
                id: glyphText
                anchors.centerIn: parent
                font.pixelSize: 20
            }
        }

        ColumnLayout {
            spacing: 4

            Text {
                id: titleText
                font.pixelSize: 16
                font.bold: true
                color: colors.title
            }
            Text {
                id: descriptionText
                font.pixelSize: 13
                color: colors.secondary
            }
        }
    }

    component ModeOption: MouseArea {
        id: option

        property int mode
        property alias title: optionTitle.text
        property alias description: optionDescription.text

        // The whole row is the click target; the radio button keeps its own clicks.
        Layout.fillWidth: true
        implicitWidth: optionRow.implicitWidth
        implicitHeight: optionRow.implicitHeight
        onClicked: playerTab.receiveMode = option.mode

        RowLayout {
            id: optionRow
            anchors.fill: parent
            spacing: 12

            RadioButton {
                objectName: "modeRadio"
                checked: playerTab.receiveMode === option.mode
                onClicked: playerTab.receiveMode = option.mode
            }

            ColumnLayout {
                spacing: 4

                Text {
                    id: optionTitle
                    font.pixelSize: 14
                    font.bold: true
                    color: colors.title
                }
                Text {
                    id: optionDescription
                    font.pixelSize: 13
                    color: colors.secondary
                }
            }
        }
    }

    component HelpLine: Text {
        font.pixelSize: 13
        color: colors.secondary
        wrapMode: Text.WordWrap
        Layout.fillWidth: true
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

                            Text {
                                text: "Player"
                                font.pixelSize: 20
                                font.bold: true
                                color: colors.title
                            }
                            Text {
                                text: "Receive the audio of another device"
                                font.pixelSize: 14
                                color: colors.secondary
                            }
                            Rectangle {
                                Layout.fillWidth: true
                                height: 1
                                color: colors.outline
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

                            Text {
                                text: "Connect by address"
                                font.pixelSize: 16
                                font.bold: true
                                color: colors.title
                            }
                            Text {
                                text: "IP address or hostname"
                                font.pixelSize: 13
                                color: colors.secondary
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
                                    placeholderTextColor: colors.dark ? "#6B7280" : "#9CA3AF"
                                    color: colors.title
                                    leftPadding: 12
                                    rightPadding: 12
                                    topPadding: 10
                                    bottomPadding: 10
                                    verticalAlignment: TextInput.AlignVCenter
                                    font.pixelSize: 14
                                    background: Rectangle {
                                        radius: 6
                                        color: colors.dark ? "#374151" : "#F3F4F6"
                                        border.width: 1
                                        border.color: ipInput.activeFocus ? "#2563EB" : "transparent"
                                    }
                                }

                                Button {
                                    id: connectButton
                                    objectName: "connectButton"
                                    Layout.preferredHeight: 40
                                    text: playerTab.addressConnected ? "DISCONNECT" : "CONNECT"
                                    background: Rectangle {
                                        radius: 6
                                        border.width: 1
                                        border.color: playerTab.addressConnected ? "#EF4444" : "#2563EB"
                                        color: playerTab.addressConnected ? colors.disconnectFill : "transparent"
                                    }
                                    contentItem: Text {
                                        text: connectButton.text
                                        font.bold: true
                                        color: playerTab.addressConnected ? "#EF4444" : "#2563EB"
                                        horizontalAlignment: Text.AlignHCenter
                                        verticalAlignment: Text.AlignVCenter
                                    }

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
                        }
                    }

                    Text {
                        text: "Servers"
                        font.pixelSize: 20
                        font.bold: true
                        color: colors.title
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
                            border.color: colors.outline
                        }

                        Text {
                            anchors.centerIn: parent
                            text: "No server found"
                            font.pixelSize: 16
                            color: colors.secondary
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
                                readonly property bool connected: playerTab.isConnectedTo(modelData.ip)

                                objectName: "serverCard"
                                padding: 20

                                RowLayout {
                                    anchors.fill: parent
                                    spacing: 20

                                    Rectangle {
                                        width: 48
                                        height: 48
                                        radius: 24
                                        color: colors.disc

                                        Text {
                                            anchors.centerIn: parent
                                            text: "📱"
                                            font.pixelSize: 24
                                        }
                                    }

                                    ColumnLayout {
                                        Layout.fillWidth: true
                                        spacing: 4

                                        Text {
                                            text: serverCard.modelData.name
                                            font.pixelSize: 16
                                            font.bold: true
                                            color: colors.title
                                        }
                                        Text {
                                            text: serverCard.modelData.ip
                                            font.pixelSize: 13
                                            color: colors.secondary
                                        }
                                    }

                                    Button {
                                        id: entryButton
                                        objectName: "entryButton"
                                        Layout.preferredHeight: 36
                                        enabled: !serverCore.isRunning || serverCard.connected
                                        text: serverCard.connected ? "DISCONNECT" : "CONNECT"
                                        background: Rectangle {
                                            radius: 6
                                            border.width: 1
                                            border.color: serverCard.connected ? "#EF4444"
                                                        : entryButton.enabled ? "#2563EB" : "#4B5563"
                                            color: serverCard.connected ? colors.disconnectFill : "transparent"
                                        }
                                        contentItem: Text {
                                            text: entryButton.text
                                            font.bold: true
                                            color: serverCard.connected ? "#EF4444"
                                                 : entryButton.enabled ? "#2563EB" : "#9CA3AF"
                                            horizontalAlignment: Text.AlignHCenter
                                            verticalAlignment: Text.AlignVCenter
                                        }

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
            color: colors.inspector
            border.width: 1
            border.color: colors.outline

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

                            Text {
                                text: "Mode"
                                font.pixelSize: 16
                                font.bold: true
                                color: colors.title
                            }
                            ModeOption {
                                objectName: "micOption"
                                mode: 1
                                title: "Mic"
                                description: "Use your phone's mic"
                            }
                            ModeOption {
                                objectName: "playbackOption"
                                mode: 0
                                title: "Playback"
                                description: "Listen to another device"
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
                                Text {
                                    text: "Virtual mic"
                                    font.pixelSize: 16
                                    font.bold: true
                                    color: colors.title
                                }
                            }
                            HelpLine {
                                text: "Select your Virtual Audio Cable below to route the audio into it."
                            }
                            HelpLine {
                                text: "Either set the virtual mic as the default input device in Windows settings."
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

                            Component.onCompleted: playerTab.alignOutputCombo()

                            Text {
                                objectName: "outputTitle"
                                text: playerTab.receiveMode === 1 ? "Virtual Audio Cable" : "Audio device"
                                font.pixelSize: 16
                                font.bold: true
                                color: colors.title
                            }
                            Text {
                                text: playerTab.receiveMode === 1
                                      ? "Select the virtual playback device (e.g. CABLE Input)"
                                      : "Select where to play the received audio"
                                font.pixelSize: 13
                                color: colors.secondary
                                wrapMode: Text.WordWrap
                                Layout.fillWidth: true
                            }
                            ComboBox {
                                id: outputDeviceCombo
                                objectName: "outputDeviceCombo"
                                Layout.fillWidth: true
                                Layout.topMargin: 4
                                model: serverCore.outputDevices
                                textRole: "name"

                                onActivated: {
                                    const id = serverCore.outputDevices[currentIndex].id
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
