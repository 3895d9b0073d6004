import QtQuick
import Kestrune 1.0

// Wires the theme to the settings as the main window does, for pages shown without it.
Binding {
    target: Theme
    property: "darkTheme"
    value: appConfig.darkTheme
}
