#!/usr/bin/env bash
# Draws the program's logo and the Windows icon from scratch with ImageMagick:
# a blue disc (the brand gradient) carrying a source dot and three sound waves.
set -euo pipefail
cd "$(dirname "$0")"
convert=/usr/bin/convert
disc=$(mktemp --suffix=.png)
trap 'rm -f "$disc"' EXIT
"$convert" \( -size 512x512 gradient:'#60A5FA-#2563EB' \) \
    \( -size 512x512 xc:black -fill white -draw 'circle 256,256 256,16' \) \
    -alpha off -compose CopyOpacity -composite "$disc"
"$convert" "$disc" -fill white -draw 'circle 176,256 176,284' \
    -fill none -stroke white -strokewidth 30 \
    -draw "ellipse 176,256 80,80 -50,50" \
    -draw "ellipse 176,256 150,150 -50,50" \
    -draw "ellipse 176,256 220,220 -50,50" \
    -define png:exclude-chunks=date,time -strip logo.png
"$convert" logo.png -define icon:auto-resize=256,128,64,48,32,16 logo.ico
