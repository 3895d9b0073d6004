.pragma library

// Every live item below root (visual children, in tree order) for which accept is true.
// Items a Repeater has let go of but not yet deleted have no parent and are left out.
function findMatching(root, accept) {
    const found = []
    const walk = function (item) {
        const children = item.children || []
        for (let i = 0; i < children.length; ++i) {
            const child = children[i]
            if (child.parent !== null && accept(child))
                found.push(child)
            walk(child)
        }
    }
    walk(root)
    return found
}

function findAll(root, name) {
    return findMatching(root, function (item) { return item.objectName === name })
}

// Text items showing exactly text.
function findTexts(root, text) {
    return findMatching(root, function (item) {
        return item.text === text && item.font !== undefined && item.contentWidth !== undefined
    })
}
