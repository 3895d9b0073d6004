import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Kestrune

Item {
    id: settingsTab

    // Page title and the headings of the Help and About cards.
    component StrongText: Text {
        font.bold: true
        color: Theme.heading
    }

    component Card: Pane {
        Layout.fillWidth: true
        padding: 24
        background: Rectangle {
            radius: 12
            color: Theme.card
            border.width: 1
            border.color: Theme.border
        }
    }

    component CardHeading: Text {
        Layout.bottomMargin: 8
        font.pixelSize: 16
        font.bold: true
        color: Theme.accent
    }

    component RowTitle: Text {
        font.pixelSize: 15
        font.bold: true
        color: Theme.rowTitle
    }

    component RowDescription: Text {
        font.pixelSize: 13
        color: Theme.secondaryText
    }

    // An implicit height, so that a Loader sized by its layout before loading keeps it.
    component Divider: Rectangle {
        objectName: "divider"
        Layout.fillWidth: true
        implicitHeight: 1
        color: Theme.divider
    }

    // A row whose title has a description below it and a control at its right.
    component DescribedRow: RowLayout {
        property alias title: describedTitle.text
        property alias description: describedText.text
        property alias descriptionWrap: describedText.wrapMode
        property alias descriptionElide: describedText.elide

        Layout.fillWidth: true

        ColumnLayout {
            Layout.fillWidth: true
            spacing: 4

            RowTitle {
                id: describedTitle
            }
            RowDescription {
                id: describedText
                Layout.fillWidth: true
            }
        }
    }

    Component {
        id: horizontalDivider

        Divider {}
    }

    ScrollView {
        id: settingsScroll
        anchors.fill: parent
        contentWidth: availableWidth
        clip: true

        ColumnLayout {
            objectName: "settingsColumn"
            width: Math.min(settingsScroll.availableWidth - 80, 800)
            height: Math.max(implicitHeight, settingsScroll.availableHeight)
            x: (settingsScroll.availableWidth - width) / 2
            spacing: 32

            StrongText {
                Layout.topMargin: 20
                text: "Settings"
                font.pixelSize: 28
            }

            Card {
                ColumnLayout {
                    anchors.fill: parent
                    spacing: 16

                    CardHeading {
                        text: "Display & Behavior"
                    }
                    RowLayout {
                        Layout.fillWidth: true

                        RowTitle {
                            text: "Dark theme"
                            Layout.fillWidth: true
                        }
                        Switch {
                            objectName: "darkThemeSwitch"
                            checked: appConfig.darkTheme
                            onCheckedChanged: appConfig.darkTheme = checked
                        }
                    }
                    Divider {}
                    DescribedRow {
                        title: "Minimize window"
                        description: "Minimize the window to system tray instead of closing"

                        Switch {
                            objectName: "minimizeToTraySwitch"
                            checked: appConfig.minimizeToTray
                            onCheckedChanged: appConfig.minimizeToTray = checked
                        }
                    }
                }
            }

            Card {
                ColumnLayout {
                    anchors.fill: parent
                    spacing: 8

                    CardHeading {
                        text: "Startup"
                        color: Theme.accentLight
                    }
                    RowLayout {
                        Layout.fillWidth: true

                        RowTitle {
                            text: "Launch Kestrune on computer startup"
                            Layout.fillWidth: true
                        }
                        Switch {
                            objectName: "launchOnStartupSwitch"
                            checked: appConfig.launchOnStartup
                            onCheckedChanged: appConfig.launchOnStartup = checked
                        }
                    }
                }
            }

            Card {
                ColumnLayout {
                    anchors.fill: parent
                    spacing: 16

                    CardHeading {
                        text: "Advanced Settings"
                    }
                    DescribedRow {
                        title: "Enable EventSync"
                        description: "Improves the audio capture latency. Keep enabled unless you have issues."
                        descriptionWrap: Text.WordWrap

                        Switch {
                            objectName: "enableEventSyncSwitch"
                            checked: appConfig.enableEventSync
                            onCheckedChanged: appConfig.enableEventSync = checked
                        }
                    }
                    Divider {}
                    DescribedRow {
                        title: "Enable continuous audio capture"
                        description: "Prevents audio glitches from occurring after periods of silence"

                        Switch {
                            objectName: "continuousCaptureSwitch"
                            checked: appConfig.continuousCapture
                            onCheckedChanged: appConfig.continuousCapture = checked
                        }
                    }
                    Divider {}
                    DescribedRow {
                        title: "Ask before a new phone receives audio"
                        description: "A phone that says hello waits on the Server page until you allow it. Otherwise anyone on this network can listen."
                        descriptionWrap: Text.WordWrap

                        Switch {
                            objectName: "askBeforeStreamingSwitch"
                            checked: appConfig.askBeforeStreaming
                            onCheckedChanged: appConfig.askBeforeStreaming = checked
                        }
                    }
                }
            }

            Card {
                ColumnLayout {
                    anchors.fill: parent
                    spacing: 16

                    StrongText {
                        text: "Help"
                        font.pixelSize: 20
                        Layout.bottomMargin: 8
                    }
                    DescribedRow {
                        title: "Logs"
                        description: appConfig.logsDirectory
                        // One line however long the path is, without running under the button.
                        descriptionElide: Text.ElideMiddle

                        Button {
                            id: openButton
                            objectName: "openLogsButton"
                            text: "OPEN"
                            background: Rectangle {
                                color: "transparent"
                                border.width: 1
                                border.color: Theme.border
                                radius: 4
                            }
                            contentItem: Text {
                                text: openButton.text
                                color: Theme.accent
                                font.bold: true
                                horizontalAlignment: Text.AlignHCenter
                                verticalAlignment: Text.AlignVCenter
                            }
                            onClicked: appConfig.openLogsDirectory()
                        }
                    }
                }
            }

            Card {
                ColumnLayout {
                    anchors.fill: parent
                    spacing: 16

                    StrongText {
                        text: "About"
                        font.pixelSize: 20
                        Layout.bottomMargin: 8
                    }
                    RowLayout {
                        Layout.fillWidth: true

                        RowTitle {
                            text: "Version"
                            Layout.fillWidth: true
                        }
                        Text {
                            text: "0.27.5"
                            font.pixelSize: 15
                            color: Theme.secondaryText
                        }
                    }
                    Loader {
                        Layout.fillWidth: true
                        sourceComponent: horizontalDivider
                    }
                    DescribedRow {
                        title: "Error reporting"
                        description: "Send an anonymous report when an error occurs"

                        Switch {
                            objectName: "errorReportingSwitch"
                            checked: appConfig.errorReporting
                            onCheckedChanged: appConfig.errorReporting = checked
                        }
                    }
                    Loader {
                        Layout.fillWidth: true
                        sourceComponent: horizontalDivider
                    }
                    DescribedRow {
                        title: "Open source licenses"
                        description: "Open source software used in the desktop and mobile apps"
                    }
                }
            }

            Item {
                Layout.fillHeight: true
                Layout.minimumHeight: 40
            }
        }
    }
}
