import QtQuick

Item {
    id: playerTab
}
