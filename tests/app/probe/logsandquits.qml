import QtQuick

QtObject {
    Component.onCompleted: {
        console.log("probe message")
        Qt.exit(0)
    }
}
