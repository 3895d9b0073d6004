import QtQuick

// Stands in for the program's window: says in the log when it is ready, when it is asked to
// come to the front, and when a phone registers with the core behind it.
Window {
    function restore() {
        console.log("restored")
    }

    Connections {
        target: serverCore
        function onConnectedDevicesChanged() {
            console.log("registered " + serverCore.connectedDevices.length)
        }
    }

    Component.onCompleted: console.log("ready")
}
