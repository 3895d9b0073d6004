import QtQuick
import QtTest
import "qrc:/Kestrune/ui/traystatus.js" as TrayStatus

TestCase {
    name: "TrayStatus"

    readonly property var pixel: ({ name: "Pixel 7", ip: "10.0.0.5" })
    readonly property var galaxy: ({ name: "Galaxy S23", ip: "10.0.0.6" })

    function phones(count, name) {
        const list = []
        for (let i = 0; i < count; ++i)
            list.push({ name: name + i, ip: "10.0.1." + i })
        return list
    }

    function test_tooltipSaysWhetherAndToWhom() {
        compare(TrayStatus.tooltip(false, [pixel]), "Kestrune Desktop: not streaming")
        compare(TrayStatus.tooltip(true, []), "Streaming, no phone connected")
        compare(TrayStatus.tooltip(true, [pixel]), "Streaming to 1 phone: Pixel 7")
        compare(TrayStatus.tooltip(true, [pixel, galaxy]),
                "Streaming to 2 phones: Pixel 7, Galaxy S23")
        compare(TrayStatus.tooltip(true, phones(5, "P")),
                "Streaming to 5 phones: P0, P1, P2 and 2 more")
        compare(TrayStatus.tooltip(true, [{ name: "", ip: "10.0.0.9" }]),
                "Streaming to 1 phone: 10.0.0.9")
    }

    function test_namesAreShortAndCannotBeReadAsMarkup() {
        const hostile = "<b>Bold</b><img src=\"http://127.0.0.9:9999/x.png\">&amp;"
        const shown = TrayStatus.plainName(hostile)
        verify(!/[<>&]/.test(shown), shown)
        compare(shown, "＜b＞Bold＜/b＞＜img src=\"ht…")

        compare(TrayStatus.plainName("x".repeat(60000)), "x".repeat(23) + "…")
        // Cut by characters: the emoji at the cut is dropped whole, not halved.
        compare(TrayStatus.plainName("a".repeat(22) + "📱📱📱"), "a".repeat(22) + "📱…")
        // The longest possible list still fits the 127 characters of a Windows tooltip.
        verify(TrayStatus.tooltip(true, phones(256, "y".repeat(64))).length <= 127)
    }

    function test_hiddenWindowNamesEachNewListenerOncePerRun() {
        const watch = TrayStatus.newWatch()
        // Registered while nothing streams: nobody receives anything yet.
        compare(TrayStatus.announcement(watch, false, [pixel, galaxy], false), "")
        compare(TrayStatus.announcement(watch, true, [pixel, galaxy], false),
                "Pixel 7 (10.0.0.5), Galaxy S23 (10.0.0.6) now receive the audio")
        compare(TrayStatus.announcement(watch, true, [pixel, galaxy], false), "")

        // Gone and back, or streaming stopped and started again: already named this run.
        compare(TrayStatus.announcement(watch, true, [galaxy], false), "")
        compare(TrayStatus.announcement(watch, true, [pixel, galaxy], false), "")
        compare(TrayStatus.announcement(watch, false, [pixel, galaxy], false), "")
        compare(TrayStatus.announcement(watch, true, [pixel, galaxy], false), "")

        const stranger = { name: "<i>x</i>", ip: "10.0.0.7" }
        compare(TrayStatus.announcement(watch, true, [pixel, galaxy, stranger], false),
                "＜i＞x＜/i＞ (10.0.0.7) now receives the audio")
    }

    function test_noMessageForWhatTheUserCouldSee() {
        const watch = TrayStatus.newWatch()
        compare(TrayStatus.announcement(watch, true, [pixel], true), "")
        // Hiding the window later is no start of receiving.
        compare(TrayStatus.announcement(watch, true, [pixel], false), "")
        // Starting again while hidden is, and it was never named.
        compare(TrayStatus.announcement(watch, false, [pixel], false), "")
        compare(TrayStatus.announcement(watch, true, [pixel], false),
                "Pixel 7 (10.0.0.5) now receives the audio")
    }
}
