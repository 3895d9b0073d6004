import QtQml

// The program's main window, and a hand that acts once it is up.
QtObject {
    id: host

    property var window: null

    function option(name) {
        const at = Qt.application.arguments.indexOf(name)
        return at >= 0 && at + 1 < Qt.application.arguments.length
                ? Qt.application.arguments[at + 1] : ""
    }

    function act() {
        const args = Qt.application.arguments
        if (args.indexOf("--start") >= 0) {
            serverCore.playerMode = 0
            serverCore.startServer()
        } else if (args.indexOf("--connect") >= 0) {
            serverCore.selectedOutputDevice = option("--output")
            serverCore.connectToAddress(option("--connect"))
        }
    }

    property Timer hand: Timer {
        interval: 1000
        running: true
        onTriggered: host.act()
    }

    Component.onCompleted: {
        window = Qt.createComponent("qrc:/Kestrune/ui/main.qml").createObject(host)
    }
}
