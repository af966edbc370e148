#!/bin/sh
# Draws the eight button bitmaps of the licence and progress windows with
# ImageMagick: "OK" and "Cancel" on a yellow rounded button, 65 x 25 pixels,
# drawn in 24 bits and stored with an 8-bit palette of exactly the colours
# each uses, its rows run-length encoded (BMP3 with BI_RLE8, which every
# Windows decodes as it loads the bitmap; a sixth of the bytes, the same
# pixels). One picture per state:
#   normal    yellow
#   disabled  grey
#   focused   yellow with a dark border
#   pressed   darker yellow, the word one pixel lower
# The outputs are checked in; run again only to change them.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../../scripts/imagemagick.sh"

# The corners outside the rounded shape: a pale blue close to the windows'
# usual backgrounds.
corner='#dde9f3'

# button NAME WORD TOP BOTTOM EDGE EDGE_WIDTH INK DY
button() {
  "$IM" -size 65x25 xc:"$corner" \
    \( -size 63x23 gradient:"$3-$4" \) -geometry +1+1 \
    \( -size 65x25 xc:black -fill white -draw 'roundrectangle 1,1 63,23 7,7' \) \
    -compose over -composite \
    -fill none -stroke "$5" -strokewidth "$6" -draw 'roundrectangle 1,1 63,23 7,7' \
    -stroke none -fill "$7" -font "$font" -pointsize 11 -gravity center \
    -annotate +0+"$8" "$2" \
    -alpha off -type TrueColor BMP3:"$here/$1"
}

for word in OK Cancel; do
  name=$(echo "$word" | tr 'A-Z' 'a-z')
  button "${name}_normal.bmp" "$word" '#fff1a8' '#f2c200' '#b38f00' 1 '#3d2e00' 0
  button "${name}_disabled.bmp" "$word" '#ececec' '#c4c4c4' '#9a9a9a' 1 '#8c8c8c' 0
  button "${name}_focused.bmp" "$word" '#fff1a8' '#f2c200' '#3d2e00' 2 '#3d2e00' 0
  button "${name}_pressed.bmp" "$word" '#e6b800' '#c79a00' '#3d2e00' 2 '#2a1f00' 1
done

python3 "$here/palette_bmp.py" "$here"/*.bmp
ls -l "$here"/*.bmp
