#!/usr/bin/env bash
# Runs one Windows program under Wine in a fresh copy of the template prefix
# and exits with its exit code (cut to 8 bits, as any Linux exit code).
#   scripts/wine-run.sh EXE [ARGS...]
# The program gets its Unix path; Wine maps it and the current folder to Z:.
# The prefix and its wineserver are gone when this returns.
set -uo pipefail

if [[ $# -lt 1 ]]; then
  echo "usage: $0 EXE [ARGS...]" >&2
  exit 2
fi

# shellcheck source=wine-prefix.sh
source "$(dirname "${BASH_SOURCE[0]}")/wine-prefix.sh"
kestrel_wine_env

run_dir=$(mktemp -d "${TMPDIR:-/tmp}/kestrel-wine.XXXXXX") || exit 1
export WINEPREFIX=$run_dir/prefix

cleanup() {
  # -k ends this prefix's wineserver and every process still in it;
  # -w waits until it is gone so the folder can be removed.
  wineserver -k 2>/dev/null
  wineserver -w 2>/dev/null
  rm -rf "$run_dir"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

if ! kestrel_wine_new_prefix "$WINEPREFIX"; then
  echo "wine-run: no Wine prefix" >&2
  exit 1
fi

wine "$@"
rc=$?
exit $rc
