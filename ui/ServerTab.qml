import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Kestrune

Item {
    id: serverTab

    // The player role counts as not streaming on this page.
    readonly property bool streaming: serverCore.isRunning && serverCore.playerMode === 0

    component TitleText: Text {
        color: Theme.title
    }

    component SecondaryText: Text {
        color: Theme.secondaryText
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

    component CardButton: Button {
        id: cardButton

        property color tone

        Layout.preferredHeight: 36
        background: Rectangle {
            radius: 6
            color: "transparent"
            border.width: 1
            border.color: cardButton.tone
        }
        contentItem: Text {
            text: cardButton.text
            color: cardButton.tone
            font.bold: true
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
        }
    }

    component PendingCard: Pane {
        id: pendingCard

        required property var modelData

        objectName: "pendingCard"
        Layout.fillWidth: true
        padding: 24
        background: Rectangle {
            radius: 12
            color: Theme.card
            border.width: 1
            border.color: Theme.border
        }

        RowLayout {
            anchors.fill: parent
            spacing: 20

            ColumnLayout {
                Layout.fillWidth: true
                spacing: 4

                PeerText {
                    text: pendingCard.modelData.name
                    font.pixelSize: 16
                    font.bold: true
                    color: Theme.title
                }
                PeerText {
                    text: pendingCard.modelData.ip
                    font.pixelSize: 13
                    color: Theme.secondaryText
                }
                SecondaryText {
                    text: "Wants to receive the audio"
                    font.pixelSize: 13
                }
            }

            CardButton {
                objectName: "allowButton"
                text: "Allow"
                tone: Theme.accent
                onClicked: serverCore.allowDevice(pendingCard.modelData.ip)
            }
            CardButton {
                objectName: "blockButton"
                text: "Block"
                tone: Theme.danger
                onClicked: serverCore.blockDevice(pendingCard.modelData.ip)
            }
        }
    }

    RowLayout {
        anchors.fill: parent
        spacing: 0

        Item {
            Layout.fillWidth: true
            Layout.fillHeight: true

            ScrollView {
                id: connectionsScroll
                anchors.fill: parent
                contentWidth: availableWidth
                clip: true

                ColumnLayout {
                    width: connectionsScroll.availableWidth
                    height: Math.max(implicitHeight, connectionsScroll.availableHeight)
                    spacing: 24

                    Text {
                        text: "Connections"
                        font.pixelSize: 24
                        font.bold: true
                        color: Theme.heading
                        Layout.topMargin: 40
                        Layout.leftMargin: 40
                        Layout.bottomMargin: 8
                    }

                    // A port another program holds: phones cannot reach this one through it.
                    Text {
                        objectName: "portConflict"
                        visible: serverCore.portConflict !== ""
                        text: "⚠ " + serverCore.portConflict
                        font.pixelSize: 14
                        font.bold: true
                        color: Theme.danger
                        elide: Text.ElideRight
                        Layout.fillWidth: true
                        Layout.leftMargin: 40
                        Layout.rightMargin: 40
                    }

                    ColumnLayout {
                        Layout.fillWidth: true
                        Layout.leftMargin: 40
                        Layout.rightMargin: 40
                        spacing: 16

                        Pane {
                            objectName: "emptyState"
                            Layout.fillWidth: true
                            padding: 32
                            visible: serverCore.connectedDevices.length === 0
                                     && serverCore.pendingDevices.length === 0
                            background: Rectangle {
                                radius: 12
                                color: "transparent"
                                border.width: 1
                                border.color: Theme.border
                            }

                            ColumnLayout {
                                anchors.fill: parent
                                spacing: 16

                                Text {
                                    text: "🔌"
                                    font.pixelSize: 48
                                    color: Theme.faintIcon
                                    Layout.alignment: Qt.AlignHCenter
                                }
                                TitleText {
                                    text: "No connected devices"
                                    font.pixelSize: 18
                                    font.bold: true
                                    Layout.alignment: Qt.AlignHCenter
                                }
                                SecondaryText {
                                    text: "Open Kestrune on your mobile device (on the same Wi-Fi network) and select this server to connect."
                                    font.pixelSize: 14
                                    horizontalAlignment: Text.AlignHCenter
                                    wrapMode: Text.WordWrap
                                    Layout.maximumWidth: 400
                                    Layout.alignment: Qt.AlignHCenter
                                }
                            }
                        }

                        // Phones that said hello while the user wants to be asked first:
                        // they receive nothing until allowed.
                        Repeater {
                            model: serverCore.pendingDevices

                            delegate: PendingCard {}
                        }

                        Repeater {
                            model: serverCore.connectedDevices

                            delegate: Pane {
                                id: deviceCard

                                required property var modelData

                                objectName: "deviceCard"
                                Layout.fillWidth: true
                                padding: 24
                                background: Rectangle {
                                    radius: 12
                                    color: Theme.card
                                    border.width: 1
                                    border.color: Theme.deviceCardBorder
                                }

                                ColumnLayout {
                                    anchors.fill: parent
                                    spacing: 16

                                    RowLayout {
                                        Layout.fillWidth: true
                                        spacing: 20

                                        Rectangle {
                                            width: 48
                                            height: 48
                                            radius: 24
                                            color: Theme.avatar

                                            Text {
                                                anchors.centerIn: parent
                                                text: "📱"
                                                font.pixelSize: 24
                                            }
                                        }

                                        // A layout grows no wider than its children allow: the texts fill, so the
                                        // column takes the row's spare width.
                                        ColumnLayout {
                                            Layout.fillWidth: true
                                            spacing: 4

                                            PeerText {
                                                text: deviceCard.modelData.name
                                                font.pixelSize: 16
                                                font.bold: true
                                                color: Theme.title
                                            }
                                            PeerText {
                                                text: deviceCard.modelData.ip
                                                font.pixelSize: 13
                                                color: Theme.secondaryText
                                            }
                                        }

                                        Rectangle {
                                            width: 8
                                            height: 8
                                            radius: 4
                                            color: Theme.success
                                        }

                                        Text {
                                            text: "Connected"
                                            font.pixelSize: 13
                                            font.bold: true
                                            color: Theme.success
                                        }
                                    }

                                    RowLayout {
                                        Layout.fillWidth: true
                                        Layout.leftMargin: 8
                                        Layout.rightMargin: 8
                                        spacing: 16

                                        Text {
                                            text: "🔊"
                                            font.pixelSize: 16
                                            color: Theme.icon
                                        }

                                        Slider {
                                            id: volSlider
                                            objectName: "volSlider"
                                            Layout.fillWidth: true
                                            from: 0
                                            to: 100
                                            value: deviceCard.modelData.volume !== undefined
                                                   ? deviceCard.modelData.volume : 100

                                            // Only the user's hand is sent on; a new record list
                                            // moving the slider is not.
                                            onValueChanged: {
                                                if (pressed)
                                                    serverCore.setDeviceVolume(deviceCard.modelData.ip,
                                                                               Math.floor(value))
                                            }

                                            background: Rectangle {
                                                x: volSlider.leftPadding
                                                y: volSlider.topPadding + volSlider.availableHeight / 2 - height / 2
                                                implicitWidth: 200
                                                implicitHeight: 6
                                                width: volSlider.availableWidth
                                                height: implicitHeight
                                                radius: 3
                                                color: Theme.track

                                                Rectangle {
                                                    width: volSlider.visualPosition * parent.width
                                                    height: parent.height
                                                    radius: 3
                                                    color: Theme.accentLight
                                                }
                                            }

                                            handle: Rectangle {
                                                x: volSlider.leftPadding + volSlider.visualPosition * (volSlider.availableWidth - width)
                                                y: volSlider.topPadding + volSlider.availableHeight / 2 - height / 2
                                                implicitWidth: 20
                                                implicitHeight: 20
                                                radius: 10
                                                color: volSlider.pressed ? Theme.accent : Theme.accentLight
                                                border.width: 2
                                                // A ring in the card's colour lifts the handle off the track.
                                                border.color: Theme.card
                                            }
                                        }

                                        TitleText {
                                            objectName: "volumePercent"
                                            text: Math.round(volSlider.value) + "%"
                                            font.pixelSize: 13
                                            font.bold: true
                                            Layout.preferredWidth: 40
                                            horizontalAlignment: Text.AlignRight
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

                // At least as tall as the view, so that the spacer puts the button at the bottom.
                ColumnLayout {
                    width: inspectorScroll.availableWidth
                    height: Math.max(implicitHeight, inspectorScroll.availableHeight)
                    spacing: 24

                    InspectorCard {
                        Layout.topMargin: 24

                        // At its own width: neither the tile nor the texts take spare room.
                        RowLayout {
                            spacing: 16

                            Rectangle {
                                width: 44
                                height: 44
                                radius: 10
                                color: Theme.inset

                                Text {
                                    anchors.centerIn: parent
                                    text: "🖧"
                                    font.pixelSize: 20
                                    color: Theme.icon
                                }
                            }

                            ColumnLayout {
                                spacing: 4

                                TitleText {
                                    text: serverCore.hostname
                                    font.pixelSize: 16
                                    font.bold: true
                                }
                                SecondaryText {
                                    text: serverCore.localIp
                                    font.pixelSize: 13
                                }
                            }
                        }
                    }

                    InspectorCard {
                        ColumnLayout {
                            anchors.fill: parent
                            spacing: 12

                            TitleText {
                                text: "Audio Device"
                                font.pixelSize: 15
                                font.bold: true
                            }
                            SecondaryText {
                                text: "Select which audio device to stream"
                                font.pixelSize: 13
                                wrapMode: Text.WordWrap
                                Layout.fillWidth: true
                            }
                            DeviceComboBox {
                                objectName: "audioDeviceCombo"
                                Layout.fillWidth: true
                                Layout.topMargin: 4
                                model: serverCore.audioDevices
                                selectedId: serverCore.selectedDevice
                                onActivated: serverCore.selectedDevice = currentValue
                            }
                        }
                    }

                    InspectorCard {
                        ColumnLayout {
                            anchors.fill: parent
                            spacing: 12

                            TitleText {
                                text: "Status"
                                font.pixelSize: 15
                                font.bold: true
                            }
                            RowLayout {
                                Layout.fillWidth: true

                                SecondaryText {
                                    text: "Capture latency"
                                    font.pixelSize: 13
                                    Layout.fillWidth: true
                                }
                                Text {
                                    objectName: "latencyValue"
                                    text: serverTab.streaming ? serverCore.captureLatencyMs + " ms" : "Idle"
                                    font.pixelSize: 14
                                    font.bold: true
                                    color: serverTab.streaming ? Theme.success : Theme.title
                                }
                            }
                        }
                    }

                    Item {
                        Layout.fillHeight: true
                    }

                    Button {
                        id: streamButton
                        objectName: "streamButton"
                        Layout.fillWidth: true
                        Layout.leftMargin: 24
                        Layout.rightMargin: 24
                        Layout.bottomMargin: 24
                        Layout.preferredHeight: 52
                        text: serverTab.streaming ? "Stop Streaming" : "Start Streaming"

                        background: Rectangle {
                            radius: 12
                            color: serverTab.streaming ? Theme.danger : Theme.accent
                        }
                        contentItem: Text {
                            text: streamButton.text
                            color: Theme.textOnAccent
                            font.pixelSize: 16
                            font.bold: true
                            horizontalAlignment: Text.AlignHCenter
                            verticalAlignment: Text.AlignVCenter
                        }

                        onClicked: {
                            if (serverTab.streaming) {
                                serverCore.stopServer()
                            } else {
                                // startServer ends a running player role by itself.
                                serverCore.playerMode = 0
                                serverCore.startServer()
                            }
                        }
                    }
                }
            }
        }
    }
}
