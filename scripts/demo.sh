#!/usr/bin/env bash
# The main command: builds the stub and the packing tool, packs the built-in
# demo payload (demo/) onto the stub as build/demo/KestrelSetup-demo.exe,
# checks and lists it, and runs it under Wine on a private X display.
#   scripts/demo.sh
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

jobs=2
out=build/demo/KestrelSetup-demo.exe

say() { printf '\n==================== %s ====================\n' "$*"; }

say deps
if [[ $(id -u) -eq 0 ]]; then
  scripts/install-deps.sh
else
  scripts/install-deps.sh || echo "demo: continuing without root"
fi

say "build: bootpack (host)"
cmake --preset host >/dev/null
cmake --build --preset host -j"$jobs" --target bootpack
bootpack=build/host/bootpack

say "build: bootstrapper.exe (win32)"
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j"$jobs" --target bootstrapper bootpack
scripts/check-imports.sh build/win32/bootstrapper.exe

say "pack"
# Payload entries are the upper-case files of demo/; the rest (the script
# that draws the pictures) stays out.
entries=()
for f in demo/*; do
  name=$(basename "$f")
  [[ -f "$f" && "$name" == "${name^^}" ]] && entries+=("$f")
done
mkdir -p "$(dirname "$out")"
rm -f "$out"
# lint: 0 clean, 1 warnings only, 2 errors
lint_rc=0
"$bootpack" lint demo/CONFIG.TXT || lint_rc=$?
((lint_rc < 2)) || { echo "demo: demo/CONFIG.TXT has errors" >&2; exit 1; }
((lint_rc == 0)) && echo "demo: demo/CONFIG.TXT lints clean"
"$bootpack" pack --stub build/win32/bootstrapper.exe --out "$out" "${entries[@]}"
"$bootpack" list "$out"
echo "demo: $out is $(stat -c %s "$out") bytes (stub $(stat -c %s build/win32/bootstrapper.exe))"

say "run under Wine"
# A fresh XP prefix on a private display; the timeout keeps a stuck window
# from holding the command forever.
rc=0
timeout 300 scripts/xvfb.sh scripts/wine-run.sh "$out" || rc=$?
echo "demo: KestrelSetup-demo.exe exited with $rc"
exit $rc
