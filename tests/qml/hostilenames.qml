import QtQuick
import QtTest
import Kestrune 1.0
import "helpers.js" as Helpers

// Names from the network written to do harm: markup that would restyle the window and make
// it fetch a URL (here one of a local listener's), and a name of 60 000 characters.
Item {
    id: root
    width: 1000
    height: 800

    ThemeFollowsSettings {}

    TestCase {
        id: testCase
        name: "HostileNames"
        when: windowShown

        readonly property string markup: "<b>Bold</b><img src=\"http://127.0.0.1:"
                                         + requestListener.port + "/x.png\">"
        readonly property string endless: "W".repeat(60000)
        readonly property var phones: [
            { name: markup, ip: "10.0.0.5", volume: 100, latency: 0 },
            { name: endless, ip: "10.0.0.6", volume: 100, latency: 0 }
        ]

        Component {
            id: serverPage
            ServerTab {
                width: root.width
                height: root.height
            }
        }

        Component {
            id: playerPage
            PlayerTab {
                width: root.width
                height: root.height
            }
        }

        Component {
            id: richText
            Text {
                textFormat: Text.RichText
            }
        }

        TextMetrics {
            id: metrics
        }

        function init() {
            serverCore.reset()
            appConfig.reset()
        }

        // The text item of card that was given text.
        function textIn(card, text) {
            const found = Helpers.findMatching(card, function (item) {
                return item.text === text && item.lineCount !== undefined
            })
            compare(found.length, 1, text.slice(0, 40))
            return found[0]
        }

        // One line, no wider than the card, as wide as the characters themselves would be
        // (not as the markup rendered would be).
        function verifyShownLiterally(card, text) {
            const item = textIn(card, text)
            compare(item.lineCount, 1)
            verify(item.width > 0)
            verify(item.width <= card.availableWidth, item.width + " > " + card.availableWidth)
            metrics.font = item.font
            metrics.text = text
            fuzzyCompare(item.implicitWidth, metrics.advanceWidth, 2)
            return item
        }

        function test_namesAndAddressesAreOneLineOfText_data() {
            return [
                { tag: "connected phones", page: serverPage, list: "connectedDevices",
                  card: "deviceCard" },
                { tag: "phones waiting for approval", page: serverPage, list: "pendingDevices",
                  card: "pendingCard" },
                { tag: "servers to connect to", page: playerPage, list: "connectedDevices",
                  card: "serverCard" }
            ]
        }

        function test_namesAndAddressesAreOneLineOfText(data) {
            const before = requestListener.connections
            const state = {}
            state[data.list] = phones
            serverCore.stage(state)
            const page = createTemporaryObject(data.page, root)
            verify(waitForRendering(page))
            const cards = Helpers.findAll(page, data.card)
            compare(cards.length, 2)
            verifyShownLiterally(cards[0], markup)
            verifyShownLiterally(cards[0], "10.0.0.5")
            verify(verifyShownLiterally(cards[1], endless).truncated)

            // Long enough for a fetch the markup would have started to arrive.
            wait(300)
            compare(requestListener.connections, before)
        }

        // The listener does hear what rich text fetches: the silence above means something.
        function test_richTextWouldHaveFetched() {
            const before = requestListener.connections
            createTemporaryObject(richText, root, { text: markup })
            tryVerify(function () { return requestListener.connections > before }, 5000)
        }
    }
}
