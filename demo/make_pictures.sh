#!/bin/sh
# Draws the demo payload's pictures with ImageMagick:
#   SPLASHSCREEN.JPG      400x260, sky gradient, the name and a kestrel in flight
#   BACKGROUND.JPG        500x380, soft gradient behind the licence and progress windows
#   PROGRESSBAR_BIRD.JPG  60x40, the bird that travels along the progress bar
#   LOGOICON.ICO          32x32 and 16x16 window icon
# The outputs are checked in; run again only to change them. Baseline JPEGs,
# metadata stripped, each well under 20 KB.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
. "$here/../scripts/imagemagick.sh"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A kestrel seen from below, wings spread, in a 100x60 box: wing tips at the
# sides, a fanned tail at the bottom, the head at the top.
bird='polygon 50,8 55,14 57,22 72,16 100,12 80,24 62,32 58,36 62,50 50,54 38,50 42,36 38,32 20,24 0,12 28,16 43,22 45,14'
jpeg='-strip -interlace none -sampling-factor 2x2 -quality 86'

"$IM" -size 400x260 gradient:'#cfe4f5-#5f93bf' \
  -fill '#2f5f8a' -draw "translate 262,58 scale 1.1,1.1 $bird" \
  -fill '#ffffff' -draw "translate 270,150 scale 0.45,0.45 $bird" \
  -font "$font" -pointsize 52 -fill '#1f4466' -annotate +34+170 'Kestrel' \
  -font "$font" -pointsize 15 -fill '#ffffff' -annotate +38+200 'Solitaire Parlor' \
  $jpeg "$here/SPLASHSCREEN.JPG"

"$IM" -size 500x380 gradient:'#f4f8fc-#c9dcec' $jpeg "$here/BACKGROUND.JPG"

"$IM" -size 60x40 xc:'#e8f0f8' \
  -fill '#396894' -draw "translate 5,4 scale 0.5,0.55 $bird" \
  $jpeg "$here/PROGRESSBAR_BIRD.JPG"

"$IM" -size 32x32 xc:'#396894' -fill '#ffffff' \
  -draw "translate 2,6 scale 0.28,0.36 $bird" "$work/icon32.png"
"$IM" -size 16x16 xc:'#396894' -fill '#ffffff' \
  -draw "translate 1,3 scale 0.14,0.18 $bird" "$work/icon16.png"
"$IM" "$work/icon32.png" "$work/icon16.png" -type TrueColor "$here/LOGOICON.ICO"

ls -l "$here"/SPLASHSCREEN.JPG "$here"/BACKGROUND.JPG "$here"/PROGRESSBAR_BIRD.JPG "$here"/LOGOICON.ICO
