#!/usr/bin/env bash
# A private X display with a window manager, for tests that open windows.
#   scripts/xvfb.sh CMD [ARGS...]   runs CMD with DISPLAY set, then tears down
#   scripts/xvfb.sh --hold          prints DISPLAY=:N once the display is up,
#                                   keeps it until its standard input closes
#                                   (how the e2e harness gets its display)
# Sourced, it defines kestrel_xvfb_start (exports DISPLAY) and
# kestrel_xvfb_stop; the caller stops what it started.
# Without a window manager keys reach a window only under the pointer and
# every window close takes seconds, hence openbox.

_kestrel_xvfb_pid=
_kestrel_wm_pid=
_kestrel_xvfb_dir=
_kestrel_xvfb_lock=

# Starts and stops take turns on this machine: an Xvfb that picks its number
# while another is starting, or still letting its number go, can end up with
# a display its window manager cannot open.
_kestrel_xvfb_locked() {
  local rc
  exec {_kestrel_xvfb_lock}>"${TMPDIR:-/tmp}/kestrel-xvfb.lock"
  flock -w 60 "$_kestrel_xvfb_lock"
  "$@"
  rc=$?
  exec {_kestrel_xvfb_lock}>&-
  return $rc
}

kestrel_xvfb_start() { _kestrel_xvfb_locked _kestrel_xvfb_start_locked; }
kestrel_xvfb_stop() { _kestrel_xvfb_locked _kestrel_xvfb_stop_locked; }

_kestrel_xvfb_start_locked() {
  _kestrel_xvfb_dir=$(mktemp -d "${TMPDIR:-/tmp}/kestrel-xvfb.XXXXXX") || return 1
  # -displayfd makes Xvfb pick a free display number itself and write it
  # once it accepts connections, which avoids racing other test runs.
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp \
    3>"$_kestrel_xvfb_dir/display" >"$_kestrel_xvfb_dir/xvfb.log" 2>&1 {_kestrel_xvfb_lock}>&- &
  _kestrel_xvfb_pid=$!
  local i display=
  for ((i = 0; i < 100; i++)); do
    display=$(head -n1 "$_kestrel_xvfb_dir/display" 2>/dev/null)
    [[ -n "$display" ]] && break
    if ! kill -0 "$_kestrel_xvfb_pid" 2>/dev/null; then break; fi
    sleep 0.1
  done
  if [[ -z "$display" ]]; then
    echo "xvfb: Xvfb did not start:" >&2
    cat "$_kestrel_xvfb_dir/xvfb.log" >&2
    _kestrel_xvfb_stop_locked
    return 1
  fi
  export DISPLAY=:$display
  openbox --sm-disable >"$_kestrel_xvfb_dir/openbox.log" 2>&1 {_kestrel_xvfb_lock}>&- &
  _kestrel_wm_pid=$!
  # The window manager is up once it has claimed the root window.
  for ((i = 0; i < 100; i++)); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    sleep 0.1
  done
  if ((i == 100)); then
    echo "xvfb: openbox did not start on $DISPLAY:" >&2
    cat "$_kestrel_xvfb_dir/openbox.log" "$_kestrel_xvfb_dir/xvfb.log" >&2
    _kestrel_xvfb_stop_locked
    return 1
  fi
}

_kestrel_xvfb_stop_locked() {
  local pid
  for pid in $_kestrel_wm_pid $_kestrel_xvfb_pid; do
    kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  done
  _kestrel_wm_pid=
  _kestrel_xvfb_pid=
  [[ -n "$_kestrel_xvfb_dir" ]] && rm -rf "$_kestrel_xvfb_dir"
  _kestrel_xvfb_dir=
  return 0
}

if [[ "${BASH_SOURCE[0]}" == "$0" ]]; then
  set -uo pipefail
  if [[ $# -lt 1 ]]; then
    echo "usage: $0 CMD [ARGS...] | $0 --hold" >&2
    exit 2
  fi
  trap kestrel_xvfb_stop EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
  kestrel_xvfb_start || exit 1
  if [[ "$1" == --hold ]]; then
    echo "DISPLAY=$DISPLAY"
    # The holder ends when its caller closes our input, or when the caller
    # itself dies, so no display outlives the harness.
    cat >/dev/null
    exit 0
  fi
  "$@"
  exit $?
fi
