#!/usr/bin/env bash
# Runs window_demo.exe under Wine on a private X display and photographs the
# splash, licence, progress and cancel-confirmation windows, accepting the
# licence with Enter and cancelling with a click on Cancel.
#   ui/win32/window_demo.sh BUILD_DIR OUT_DIR
# Needs a Wine prefix in $WINEPREFIX (32-bit, reporting Windows XP).
set -euo pipefail

build=$(cd "$1" && pwd)
out=$(mkdir -p "$2" && cd "$2" && pwd)
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
IM=${IM_IMPORT:-/usr/bin/import}

export WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
: "${WINEPREFIX:?set WINEPREFIX to a prepared prefix}"

# shellcheck source=../../scripts/xvfb.sh
source "$root/scripts/xvfb.sh"
kestrel_xvfb_start
demo_pid=
cleanup() {
  [[ -n "$demo_pid" ]] && kill "$demo_pid" 2>/dev/null
  wineserver -k 2>/dev/null || true
  kestrel_xvfb_stop
}
trap cleanup EXIT

folder=$(mktemp -d "${TMPDIR:-/tmp}/kestrel-demo.XXXXXX")
cp "$root"/demo/*.JPG "$root"/demo/*.ICO "$root"/demo/*.TXT "$folder/"

shot() {  # NAME WINDOW_ID: the window with its frame
  "$IM" -window "$2" -frame "$out/$1.png"
  echo "window_demo: $out/$1.png"
}

find_window() {  # TITLE [TRIES]: the id of a visible window with that title
  local id= i
  for ((i = 0; i < ${2:-50}; i++)); do
    id=$(timeout 5 xdotool search --onlyvisible --name "$1" 2>/dev/null | tail -n1 || true)
    [[ -n "$id" ]] && { echo "$id"; return 0; }
    sleep 0.2
  done
  return 1
}

wine "$build/window_demo.exe" "$(winepath -w "$folder")" --hold-at 42 &
demo_pid=$!

# The splash has no title bar: photograph the middle of the screen.
sleep 2
"$IM" -window root "$out/splash_full.png"
echo "window_demo: $out/splash_full.png"

title="Kestrel - Solitaire Parlor"
sleep 2.5
licence=$(find_window "$title")
sleep 0.5
shot licence "$licence"
# The radio buttons sit at 19,244 (accept) and 19,256 (decline) of 327 x 294
# dialog units. Declining greys OK; accepting brings it back, focused.
eval "$(xdotool getwindowgeometry --shell "$licence")"
xdotool mousemove --window "$licence" --sync $((WIDTH * 23 / 327)) $((HEIGHT * 260 / 294)) click 1
sleep 0.5
shot licence_declined "$licence"
xdotool mousemove --window "$licence" --sync $((WIDTH * 23 / 327)) $((HEIGHT * 248 / 294)) click 1
sleep 0.3
# Space on the focused OK accepts; the button must not keep the mouse
# captured, or the click on Cancel below would not arrive.
xdotool key space

sleep 1
progress=$(find_window "$title")
xdotool windowactivate --sync "$progress"
sleep 2.5
shot progress "$progress"

# Cancel sits at 125,204 dialog units; 279 x 255 units fill the client area.
eval "$(xdotool getwindowgeometry --shell "$progress")"
xdotool mousemove --window "$progress" --sync $((WIDTH * 125 / 279 + 32)) \
  $((HEIGHT * 204 / 255 + 12)) click 1
question=$(find_window "Abort Installation")
sleep 0.5
"$IM" -window root "$out/confirm_full.png"
echo "window_demo: $out/confirm_full.png"
shot confirm "$question"
xdotool windowactivate --sync "$question"
xdotool key Return
sleep 0.5
shot cancelling "$progress"

rc=0
wait "$demo_pid" || rc=$?
demo_pid=
echo "window_demo: exit code $rc (3: cancel confirmed)"
rm -rf "$folder"
