import QtQuick
import QtQuick.Controls
import QtQuick.Controls.Material
import QtQuick.Layouts
import QtQuick.Window
import Kestrune
import Qt.labs.platform 1.1 as Platform
import "traystatus.js" as TrayStatus

Window {
    id: mainWindow

    // Hiding on close needs a way back; where the desktop has no tray, closing quits instead.
    // A property so that tests can stand in for a desktop with a tray.
    property bool trayAvailable: trayIcon.available

    width: 1200
    height: 800
    visible: true
    title: "Kestrune Desktop"
    color: Theme.windowBackground

    Material.theme: Theme.material
    Material.accent: Theme.accent

    // Every page colours itself through the theme, which follows the user's setting live.
    Binding {
        target: Theme
        property: "darkTheme"
        value: appConfig.darkTheme
    }

    // The core asks the user before a new phone receives audio exactly while the setting says so.
    Binding {
        target: serverCore
        property: "askBeforeStreaming"
        value: appConfig.askBeforeStreaming
    }

    // The capture's switches live in the settings and act in the core; neither knows the other.
    Binding {
        target: serverCore
        property: "eventSync"
        value: appConfig.enableEventSync
    }
    Binding {
        target: serverCore
        property: "continuousCapture"
        value: appConfig.continuousCapture
    }

    // Also what a second start of the program calls to bring this window forward.
    function restore() {
        if (mainWindow.visibility === Window.Minimized)
            mainWindow.showNormal()
        else
            mainWindow.show()
        mainWindow.raise()
        mainWindow.requestActivate()
    }

    // Who receives the stream, for the tray: a phone that starts to while the window is
    // hidden is named in a message, once in a run.
    readonly property bool streaming: serverCore.isRunning && serverCore.playerMode === 0
    readonly property var listenerWatch: TrayStatus.newWatch()

    function announceNewListeners() {
        const message = TrayStatus.announcement(mainWindow.listenerWatch, mainWindow.streaming,
                                                serverCore.connectedDevices, mainWindow.visible)
        if (message !== "")
            trayIcon.showMessage("Kestrune Desktop", message)
    }

    onStreamingChanged: announceNewListeners()

    Connections {
        target: serverCore
        function onConnectedDevicesChanged() {
            mainWindow.announceNewListeners()
        }
    }

    onClosing: function (closeEvent) {
        if (appConfig.minimizeToTray && mainWindow.trayAvailable) {
            closeEvent.accepted = false
            mainWindow.hide()
        }
    }

    RowLayout {
        anchors.fill: parent
        spacing: 0

        Rectangle {
            Layout.fillHeight: true
            Layout.preferredWidth: 220
            color: Theme.sidebar

            Rectangle {
                width: 1
                height: parent.height
                anchors.right: parent.right
                color: Theme.sidebarBorder
            }

            ColumnLayout {
                anchors.fill: parent
                spacing: 0

                Item {
                    Layout.fillWidth: true
                    height: 100

                    RowLayout {
                        anchors.centerIn: parent
                        spacing: 12

                        Rectangle {
                            width: 32
                            height: 32
                            radius: 16
                            gradient: Gradient {
                                GradientStop { position: 0.0; color: Theme.logoTop }
                                GradientStop { position: 1.0; color: Theme.accent }
                            }
                        }

                        Text {
                            text: "Kestrune"
                            font.pixelSize: 22
                            font.bold: true
                            color: Theme.heading
                        }
                    }
                }

                ListView {
                    id: navList
                    objectName: "navList"
                    Layout.fillWidth: true
                    Layout.fillHeight: true
                    model: ["Server", "Player", "Settings"]
                    currentIndex: 0
                    interactive: false

                    delegate: ItemDelegate {
                        id: entry

                        required property int index
                        required property string modelData
                        readonly property bool selected: index === ListView.view.currentIndex

                        width: ListView.view.width - 24
                        height: 54
                        x: (ListView.view.width - width) / 2
                        text: modelData

                        background: Rectangle {
                            radius: 8
                            color: entry.selected ? Theme.navSelected
                                 : entry.hovered ? Theme.navHovered
                                 : "transparent"

                            Rectangle {
                                width: 4
                                height: 24
                                radius: 2
                                color: Theme.accent
                                anchors.verticalCenter: parent.verticalCenter
                                anchors.left: parent.left
                                anchors.leftMargin: -12
                                visible: entry.selected
                            }
                        }

                        contentItem: RowLayout {
                            spacing: 16

                            Text {
                                text: entry.index === 0 ? "🖧" : entry.index === 1 ? "⏵" : "⚙"
                                font.pixelSize: 20
                                // Grey in both themes, unlike the label.
                                color: entry.selected ? Theme.heading : Theme.inactiveGlyph
                            }

                            Text {
                                text: entry.modelData
                                font.pixelSize: 15
                                font.weight: entry.selected ? Font.DemiBold : Font.Normal
                                color: entry.selected ? Theme.heading : Theme.secondaryText
                                Layout.fillWidth: true
                            }
                        }

                        onClicked: ListView.view.currentIndex = index
                    }
                }
            }
        }

        StackLayout {
            objectName: "pages"
            Layout.fillWidth: true
            Layout.fillHeight: true
            currentIndex: navList.currentIndex

            ServerTab {}
            PlayerTab {}
            SettingsTab {}
        }
    }

    Platform.SystemTrayIcon {
        id: trayIcon
        objectName: "trayIcon"

        visible: appConfig.minimizeToTray
        icon.name: "audio-volume-high"
        // Shown where the icon theme has no entry of that name.
        icon.source: "qrc:/Kestrune/ui/images/logo.png"
        tooltip: TrayStatus.tooltip(mainWindow.streaming, serverCore.connectedDevices)

        menu: Platform.Menu {
            Platform.MenuItem {
                text: "Restore"
                onTriggered: mainWindow.restore()
            }
            Platform.MenuItem {
                text: "Quit"
                onTriggered: Qt.quit()
            }
        }

        onActivated: function (reason) {
            if (reason === Platform.SystemTrayIcon.Trigger)
                mainWindow.restore()
        }
    }
}
