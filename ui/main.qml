import QtQuick
import QtQuick.Controls
import QtQuick.Controls.Material
import QtQuick.Layouts
import QtQuick.Window
import Qt.labs.platform 1.1 as Platform

Window {
    id: mainWindow

    // Hiding on close needs a way back; where the desktop has no tray, closing quits instead.
    // A property so that tests can stand in for a desktop with a tray.
    property bool trayAvailable: trayIcon.available

    width: 1200
    height: 800
    visible: true
    title: "Kestrune Desktop"
    color: appConfig.darkTheme ? "#0F0F13" : "#F8F9FA"

    Material.theme: appConfig.darkTheme ? Material.Dark : Material.Light
    Material.accent: "#2563EB"

    function restore() {
        mainWindow.show()
        mainWindow.raise()
        mainWindow.requestActivate()
    }

    onClosing: function (closeEvent) {
        if (appConfig.minimizeToTray && mainWindow.trayAvailable) {
            closeEvent.accepted = false
            mainWindow.hide()
        }
    }

    QtObject {
        id: colors

        readonly property bool dark: appConfig.darkTheme
        readonly property color sidebar: dark ? "#16161A" : "#FFFFFF"
        readonly property color sidebarBorder: dark ? "#2A2A35" : "#E5E7EB"
        readonly property color strongText: dark ? "#FFFFFF" : "#111827"
        readonly property color selectedEntry: dark ? "#23232E" : "#F3F4F6"
        readonly property color hoveredEntry: dark ? "#1D1D24" : "#FAFAFA"
        readonly property color idleLabel: dark ? "#9CA3AF" : "#6B7280"
    }

    RowLayout {
        anchors.fill: parent
        spacing: 0

        Rectangle {
            Layout.fillHeight: true
            Layout.preferredWidth: 220
            color: colors.sidebar

            Rectangle {
                width: 1
                height: parent.height
                anchors.right: parent.right
                color: colors.sidebarBorder
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
                                GradientStop { position: 0.0; color: "#60A5FA" }
                                GradientStop { position: 1.0; color: "#2563EB" }
                            }
                        }

                        Text {
                            text: "Kestrune"
                            font.pixelSize: 22
                            font.bold: true
                            color: colors.strongText
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
                        readonly property bool selected: index === navList.currentIndex

                        width: navList.width - 24
                        height: 54
                        x: (navList.width - width) / 2
                        text: modelData

                        background: Rectangle {
                            radius: 8
                            color: entry.selected ? colors.selectedEntry
                                                  : entry.hovered ? colors.hoveredEntry : "transparent"

                            Rectangle {
                                width: 4
                                height: 24
                                radius: 2
                                color: "#2563EB"
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
                                color: entry.selected ? colors.strongText : "#9CA3AF"
                            }

                            Text {
                                text: entry.modelData
                                font.pixelSize: 15
                                font.weight: entry.selected ? Font.DemiBold : Font.Normal
                                color: entry.selected ? colors.strongText : colors.idleLabel
                                Layout.fillWidth: true
                            }
                        }

                        onClicked: navList.currentIndex = index
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

        visible: appConfig.minimizeToTray
        icon.name: "audio-volume-high"
        // Shown where the icon theme has no entry of that name.
        icon.source: "qrc:/Kestrune/ui/images/logo.png"
        tooltip: "Kestrune Desktop"

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
