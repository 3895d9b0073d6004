import QtQuick
import QtQuick.Layouts

// Text that came from the network (a phone's name, an address): shown as the characters it
// holds, never read as markup (which could restyle the window or make it fetch a URL), on
// one line cut at the width the layout gives it.
Text {
    textFormat: Text.PlainText
    wrapMode: Text.NoWrap
    maximumLineCount: 1
    elide: Text.ElideRight
    Layout.fillWidth: true
}
