.pragma library

// What the tray says about who receives the stream: the icon's tooltip, and a message when
// a phone starts to receive while the window is hidden. The names come from the network:
// tray surfaces may render markup (desktop notifications, rich-text tooltips), so a name
// never carries a character that could open a tag or an entity there.

// Windows cuts tray tooltips at 127 characters: short names, and only the first few.
const nameLength = 24
const namesListed = 3

// The name as the tray shows it: at most nameLength characters (never half of one), with
// "<", ">" and "&" replaced by their full-width look-alikes.
function plainName(name) {
    const characters = [...String(name)]
    const kept = characters.length > nameLength
            ? characters.slice(0, nameLength - 1).join("") + "…"
            : characters.join("")
    return kept.replace(/</g, "\uFF1C").replace(/>/g, "\uFF1E").replace(/&/g, "\uFF06")
}

// A phone's name, or its address when it gave none.
function phoneName(device) {
    return device.name !== "" ? plainName(device.name) : device.ip
}

// A phone's name with its address, which a name alone could fake.
function phoneNameAndAddress(device) {
    return device.name !== "" ? plainName(device.name) + " (" + device.ip + ")" : device.ip
}

// "A", "A, B", "A, B, C and 2 more"
function listed(names) {
    const shown = names.slice(0, namesListed).join(", ")
    const rest = names.length - namesListed
    return rest > 0 ? shown + " and " + rest + " more" : shown
}

function tooltip(streaming, devices) {
    if (!streaming)
        return "Kestrune Desktop: not streaming"
    if (devices.length === 0)
        return "Streaming, no phone connected"
    const count = devices.length === 1 ? "1 phone" : devices.length + " phones"
    return "Streaming to " + count + ": " + listed(devices.map(phoneName))
}

// Which phones received the stream at the last look, and which have had their message in
// this run (both by address).
function newWatch() {
    return { receiving: {}, announced: {} }
}

// Looks at who receives the stream now and returns the message to show, or "" for none:
// the phones that were not receiving before and are now, while the window is hidden, each
// named once per run.
function announcement(watch, streaming, devices, windowShown) {
    const receiving = {}
    const named = []
    for (let i = 0; i < devices.length && streaming; ++i) {
        const device = devices[i]
        receiving[device.ip] = true
        if (windowShown || watch.receiving[device.ip] || watch.announced[device.ip])
            continue
        watch.announced[device.ip] = true
        named.push(phoneNameAndAddress(device))
    }
    watch.receiving = receiving
    if (named.length === 0)
        return ""
    return (named.length === 1 ? named[0] + " now receives" : listed(named) + " now receive")
            + " the audio"
}
