# Sourced by the picture scripts: IM is ImageMagick's convert, font the bold
# face they letter with.
# The 'convert' first on PATH may be another program of the same name.
IM=${IM_CONVERT:-/usr/bin/convert}
"$IM" -version | grep -q ImageMagick || { echo "$IM is not ImageMagick" >&2; exit 1; }

font=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf
[ -f "$font" ] || font=Helvetica-Bold
