#!/usr/bin/env bash
# What `cmake --install` lays out, checked as a desktop and a software centre read it:
# exactly the expected files; a launcher entry and AppStream metadata that their validators
# accept and that point at what is installed; icons of the sizes their folders claim;
# manual pages that render without warnings and name every option the peer has.
#   install-tree.sh BUILD_DIR SOURCE_DIR VERSION APP_ID
set -euo pipefail
build=$(realpath "${1:?build directory}")
source=$(realpath "${2:?source directory}")
version=${3:?version}
id=${4:?application id}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

root=$work/root
cmake --install "$build" --prefix "$root/usr" >/dev/null
share=$root/usr/share

expected=(
    usr/bin/KestruneServer
    usr/bin/kestrune-peer
    "usr/share/applications/$id.desktop"
    "usr/share/metainfo/$id.metainfo.xml"
    "usr/share/icons/hicolor/48x48/apps/$id.png"
    "usr/share/icons/hicolor/128x128/apps/$id.png"
    "usr/share/icons/hicolor/256x256/apps/$id.png"
    "usr/share/icons/hicolor/512x512/apps/$id.png"
    "usr/share/icons/hicolor/scalable/apps/$id.svg"
    usr/share/man/man1/KestruneServer.1.gz
    usr/share/man/man1/kestrune-peer.1.gz
    usr/share/doc/kestrune/copyright
    usr/share/doc/kestrune/changelog.gz
)
installed=$(cd "$root" && find . -type f -o -type l | sed 's|^\./||' | sort)
wanted=$(printf '%s\n' "${expected[@]}" | sort)
[ "$installed" = "$wanted" ] ||
    fail "installed files differ from the expected ones:$(diff <(echo "$wanted") <(echo "$installed") | grep '^[<>]' | tr '\n' ' ')"

# The launcher entry: valid (hints allowed), and every name in it resolves to what is
# installed, with no absolute path.
entry=$share/applications/$id.desktop
findings=$(desktop-file-validate "$entry" 2>&1 | grep -v ': hint: ' || true)
[ -z "$findings" ] || fail "desktop-file-validate: $findings"
key() { sed -n "s/^$1=//p" "$entry"; }
[ "$(key Name)" = "Kestrune Desktop" ] || fail "launcher name '$(key Name)'"
[ "$(key Categories)" = "AudioVideo;Audio;Network;" ] || fail "categories '$(key Categories)'"
[ -x "$root/usr/bin/$(key Exec | cut -d' ' -f1)" ] || fail "Exec '$(key Exec)' is not an installed program"
[ "$(key Icon)" = "$id" ] || fail "Icon '$(key Icon)'"
grep -qE '^[A-Za-z]+=/' "$entry" && fail "absolute path in the launcher entry"

# Icons of the sizes their folders name.
for size in 48 128 256 512; do
    icon=$share/icons/hicolor/${size}x$size/apps/$id.png
    file "$icon" | grep -q "PNG image data, $size x $size," || fail "$(file "$icon")"
done
grep -q '<svg' "$share/icons/hicolor/scalable/apps/$id.svg" || fail "the scalable icon is no SVG"

# AppStream: valid offline, this version's release, the launcher it names, and a captioned
# screenshot for every picture in docs/screenshots.
metainfo=$share/metainfo/$id.metainfo.xml
appstreamcli validate --no-net "$metainfo" >"$work/appstream.txt" 2>&1 ||
    fail "appstreamcli validate: $(cat "$work/appstream.txt")"
grep -q "<release version=\"$version\"" "$metainfo" || fail "no release $version in the metadata"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" ||
    fail "the metadata does not name the launcher entry"
shown=$(grep -oE '<image>[^<]+</image>' "$metainfo" | sed 's|</image>||; s|.*/||' | sort)
pictures=$(cd "$source/docs/screenshots" && ls ./*.png | sed 's|^\./||' | sort)
[ "$shown" = "$pictures" ] || fail "screenshots in the metadata: $(echo $shown); in docs: $(echo $pictures)"
[ "$(grep -c '<caption>' "$metainfo")" -eq "$(echo "$pictures" | wc -l)" ] ||
    fail "not every screenshot has a caption"

# Manual pages: no warnings from the formatter, and every long option of every command of
# the peer is described.
for page in KestruneServer kestrune-peer; do
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$share/man/man1/$page.1.gz" 2>&1 >/dev/null || true)
    [ -z "$warnings" ] || fail "$page.1: $warnings"
done
manual=$(zcat "$share/man/man1/kestrune-peer.1.gz" | sed 's/\\-/-/g')
for command in listen send cmd discover; do
    for option in $("$root/usr/bin/kestrune-peer" "$command" --help | grep -oE -- '--[a-z][a-z-]*' | sort -u); do
        grep -q -- "$option" <<<"$manual" || fail "kestrune-peer.1 does not describe $command $option"
    done
done

[ "$failures" -eq 0 ] && echo "install tree: ${#expected[@]} files, validators and manual pages pass"
exit $((failures > 0))
