import QtQuick
import QtTest
import Kestrune 1.0
import "helpers.js" as Helpers

// TestCase items are invisible: the pages live in the visible root beside it.
Item {
    id: root
    width: 1000
    height: 1400 // tall enough to show every card without scrolling

    ThemeFollowsSettings {}

    TestCase {
        id: testCase
        name: "SettingsTab"
        when: windowShown

        Component {
            id: pageComponent
            SettingsTab {}
        }

        function init() {
            appConfig.reset()
            root.width = 1000
        }

        function createPage() {
            const page = createTemporaryObject(pageComponent, root,
                                               { width: Qt.binding(() => root.width), height: root.height })
            verify(page)
            waitForRendering(page)
            return page
        }

        function only(page, name) {
            const items = Helpers.findAll(page, name)
            compare(items.length, 1, name)
            return items[0]
        }

        readonly property var options: ["darkTheme", "minimizeToTray", "launchOnStartup",
            "enableEventSync", "continuousCapture", "askBeforeStreaming", "errorReporting"]

        function test_openingWritesNothing_data() {
            return [
                { tag: "defaults", flipped: [] },
                { tag: "every option flipped", flipped: options }
            ]
        }

        function test_openingWritesNothing(data) {
            for (const option of data.flipped)
                appConfig.stage(option, !appConfig[option])
            const page = createPage()
            for (const option of options)
                compare(only(page, option + "Switch").checked, appConfig[option], option)
            compare(appConfig.writes, [])
        }

        function test_switchWritesThroughTheSetter_data() {
            return options.map(option => ({ tag: option, option: option }))
        }

        function test_switchWritesThroughTheSetter(data) {
            const page = createPage()
            const toggle = only(page, data.option + "Switch")
            const before = appConfig[data.option]
            mouseClick(toggle)
            compare(appConfig[data.option], !before)
            compare(appConfig.writes, [data.option + "=" + !before])

            // The switch still follows the setting after the user has flipped it.
            appConfig.stage(data.option, before)
            compare(toggle.checked, before)
            compare(appConfig.writes.length, 1)
        }

        function test_openButtonOpensTheLogsDirectory() {
            const page = createPage()
            compare(Helpers.findTexts(page, appConfig.logsDirectory).length, 1)
            mouseClick(only(page, "openLogsButton"))
            compare(appConfig.writes, ["openLogsDirectory()"])
        }

        function test_columnWidth_data() {
            return [
                { tag: "narrow", page: 860, width: 780 },
                { tag: "at the turn", page: 880, width: 800 },
                { tag: "wide", page: 1100, width: 800 }
            ]
        }

        function test_columnWidth(data) {
            root.width = data.page
            const column = only(createPage(), "settingsColumn")
            compare(column.width, data.width)
            compare(column.x, (data.page - data.width) / 2)
        }

        function test_everyDividerIsDrawn() {
            const dividers = Helpers.findAll(createPage(), "divider")
            compare(dividers.length, 5)
            for (const divider of dividers) {
                compare(divider.height, 1)
                // As wide as the card's content: the column less the card's padding.
                compare(divider.width, 800 - 2 * 24)
            }
        }

        function test_themeRecoloursThePage() {
            const page = createPage()
            const title = Helpers.findTexts(page, "Settings")[0]
            compare(String(title.color), "#ffffff")
            mouseClick(only(page, "darkThemeSwitch"))
            compare(String(title.color), "#111827")
        }
    }
}
