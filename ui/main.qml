import QtQuick
import QtQuick.Window

Window {
    id: mainWindow
    width: 1200
    height: 800
    visible: true
    title: "Kestrune Desktop"
    color: appConfig.darkTheme ? "#0F0F13" : "#F8F9FA"
}
