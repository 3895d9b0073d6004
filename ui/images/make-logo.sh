#!/usr/bin/env bash
# Renders the program's logo from logo.svg (a blue disc in the brand gradient carrying a
# source dot and three sound waves): logo.png (512 px, compiled into the program), the
# launcher icons of icons/ (48, 128 and 256 px) and the Windows icon logo.ico.
# Needs rsvg-convert (librsvg2-bin) and ImageMagick; only for changing the artwork, the
# build uses the files this writes.
set -euo pipefail
cd "$(dirname "$0")"
convert=/usr/bin/convert
png() {
    rsvg-convert -w "$1" -h "$1" logo.svg |
        "$convert" - -define png:exclude-chunks=date,time -strip "$2"
}
png 512 logo.png
mkdir -p icons
for size in 48 128 256; do
    png "$size" "icons/$size.png"
done
"$convert" logo.png -define icon:auto-resize=256,128,64,48,32,16 logo.ico
