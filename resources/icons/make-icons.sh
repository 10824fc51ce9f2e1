#!/bin/sh
# Draws the application icon (the same picture as quorvane.svg) at every size the front ends use.
# Needs ImageMagick; the PNGs are committed, so a build does not.
set -eu
cd "$(dirname "$0")"
convert -size 256x256 xc:none \
  -fill '#2460c0' -draw 'roundrectangle 8,8 248,248 44,44' \
  -fill '#173f8a' -draw 'roundrectangle 8,128 248,248 44,44' -draw 'rectangle 8,128 248,200' \
  -fill white -draw 'roundrectangle 36,44 88,96 8,8' -draw 'roundrectangle 176,44 228,96 8,8' \
  -fill none -stroke white -strokewidth 10 -draw 'roundrectangle 111,49 153,91 6,6' -stroke none \
  -fill '#ffd34d' -draw 'polygon 112,116 144,116 144,140 168,140 128,176 88,140 112,140' \
  -draw 'roundrectangle 60,186 196,226 10,10' \
  -fill '#173f8a' -draw 'roundrectangle 92,198 164,214 6,6' \
  PNG32:quorvane-256.png
for size in 16 24 32 48; do
  convert quorvane-256.png -filter Lanczos -resize ${size}x${size} PNG32:quorvane-$size.png
done
# The Windows icon: 48, 32, 24 and 16 pixels at 4 and 8 bits per pixel, and 256 to 16 at 32.
python3 ../win32/make-ico.py ../win32/quorvane.ico
