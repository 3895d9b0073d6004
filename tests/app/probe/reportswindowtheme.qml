import QtQuick

// Opens the program's window and exits with 3 when it came up dark, 4 when it came up light,
// 5 when it did not come up.
QtObject {
    id: probe

    Component.onCompleted: {
        // Owned by the probe, so that it goes with the engine as the program's window does,
        // and never shown: its bindings are all the check needs.
        const window = Qt.createComponent("qrc:/Kestrune/ui/main.qml").createObject(probe,
                                                                                   { visible: false })
        const background = window ? String(window.color) : ""
        Qt.exit(background === "#0f0f13" ? 3 : background === "#f8f9fa" ? 4 : 5)
    }
}
