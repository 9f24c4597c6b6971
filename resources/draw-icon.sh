#!/usr/bin/env bash
# Draws cvn.ico (16 to 256 pixels): a sheet of text with a folded corner over a blue tile.
# Needs ImageMagick 6; set CONVERT when `convert` on the PATH is another program.
set -euo pipefail
cd "$(dirname "$0")"
convert="${CONVERT:-convert}"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT

"$convert" -size 256x256 xc:none \
    -fill '#1f6fb2' -draw 'roundrectangle 8,8 247,247 44,44' \
    -fill white -draw 'polygon 64,36 160,36 200,76 200,220 64,220' \
    -fill '#9cc3e6' -draw 'polygon 160,36 160,76 200,76' \
    -stroke '#1f6fb2' -strokewidth 12 \
    -draw 'line 86,104 178,104' -draw 'line 86,136 178,136' \
    -draw 'line 86,168 178,168' -draw 'line 86,198 140,198' \
    "$tmp/cvn-256.png"
for size in 16 24 32 48 64 128; do
    "$convert" "$tmp/cvn-256.png" -resize "${size}x${size}" "$tmp/cvn-$size.png"
done
"$convert" "$tmp"/cvn-{16,24,32,48,64,128,256}.png -depth 8 cvn.ico
