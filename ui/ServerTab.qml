import QtQuick

Item {
    id: serverTab
}
