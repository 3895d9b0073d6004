import QtQuick

Item {
    id: settingsTab
}
