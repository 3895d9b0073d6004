pragma Singleton

import QtQuick
import QtQuick.Controls.Material

// Every colour of the window, by the role it plays: the documents name roles and spell no
// colour themselves, so a new colour is a new role here. A themed role resolves to its dark
// or its light value as darkTheme changes; the rest look the same in both themes. The main
// window binds darkTheme to the user's setting.
QtObject {
    property bool darkTheme: true

    // The variant the Material controls draw in.
    readonly property int material: darkTheme ? Material.Dark : Material.Light

    // Surfaces, from the window inwards.
    readonly property color windowBackground: darkTheme ? "#0F0F13" : "#F8F9FA"
    readonly property color sidebar: darkTheme ? "#16161A" : "#FFFFFF"
    readonly property color sidebarBorder: darkTheme ? "#2A2A35" : "#E5E7EB"
    readonly property color navSelected: darkTheme ? "#23232E" : "#F3F4F6"
    readonly property color navHovered: darkTheme ? "#1D1D24" : "#FAFAFA"
    readonly property color inspector: darkTheme ? "#111827" : "#F9FAFB"
    readonly property color card: darkTheme ? "#1F2937" : "#FFFFFF"
    readonly property color border: darkTheme ? "#374151" : "#E5E7EB"
    readonly property color divider: border
    readonly property color track: border
    // Cards on the inspector column are edged more softly in the light theme.
    readonly property color inspectorCardBorder: darkTheme ? "#374151" : "#F3F4F6"
    // A connected phone's card stands out in the light theme.
    readonly property color deviceCardBorder: darkTheme ? "#374151" : "#2563EB"
    // Sunken areas: icon tiles and the address field.
    readonly property color inset: darkTheme ? "#374151" : "#F3F4F6"
    readonly property color avatar: darkTheme ? "#374151" : "#EFF6FF"

    // Text and glyphs.
    readonly property color heading: darkTheme ? "#FFFFFF" : "#111827"
    readonly property color title: darkTheme ? "#F9FAFB" : "#111827"
    readonly property color rowTitle: darkTheme ? "#F3F4F6" : "#111827"
    readonly property color secondaryText: darkTheme ? "#9CA3AF" : "#6B7280"
    readonly property color placeholderText: darkTheme ? "#6B7280" : "#9CA3AF"
    readonly property color icon: darkTheme ? "#D1D5DB" : "#4B5563"
    readonly property color faintIcon: darkTheme ? "#4B5563" : "#D1D5DB"
    readonly property color inactiveGlyph: "#9CA3AF"

    // Accents and states.
    readonly property color accent: "#2563EB"
    readonly property color accentLight: "#3B82F6"
    readonly property color logoTop: "#60A5FA"
    readonly property color textOnAccent: "#FFFFFF"
    readonly property color success: "#10B981"
    readonly property color danger: "#EF4444"
    readonly property color dangerFill: darkTheme ? "#7F1D1D" : "#FEE2E2"
    readonly property color disabledBorder: "#4B5563"
    readonly property color disabledText: "#9CA3AF"
}
