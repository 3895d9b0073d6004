import QtQuick

// Exits with 3 when the very first evaluation of the binding saw the dark theme, 4 if not.
QtObject {
    property bool firstSeen: appConfig.darkTheme
    Component.onCompleted: Qt.exit(firstSeen ? 3 : 4)
}
