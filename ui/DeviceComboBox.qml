import QtQuick
import QtQuick.Controls

// A combo box over one of the core's device lists, which change as devices come and go.
// An empty list says why it is empty. After a change it shows the chosen device again, or
// the first entry while none is chosen (as at the start); a chosen device that went away
// shows as no entry at all rather than as another device.
ComboBox {
    id: combo

    // The id of the device chosen from this list; empty for the default device.
    property string selectedId
    property bool created: false

    textRole: "name"
    valueRole: "id"
    displayText: count > 0 ? currentText
               : serverCore.soundSystemState === 2 ? "No sound server" : "No audio devices"

    Component.onCompleted: created = true
    // The box itself goes back to the first entry whenever its list is replaced.
    onModelChanged: {
        if (!created)
            return
        currentIndex = selectedId !== "" ? indexOfValue(selectedId) : (count > 0 ? 0 : -1)
    }
}
