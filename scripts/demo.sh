#!/usr/bin/env bash
# The main command: builds the packing tool, the stub and the test fixtures,
# then runs the built-in demo payload (demo/) as a user on a fresh Windows XP
# machine would see it: loopback servers hand out the fixtures as the .NET
# Framework, its Service Pack and the agent package, and record the event
# reports; the bootstrapper downloads, installs and runs the fake launcher.
# The event reports go to kestrel-collector, whose funnel of the run is
# printed at the end.
#   scripts/demo.sh              with $DISPLAY you click through it yourself;
#                                without, it runs on a private display, accepts
#                                the licence, photographs each window into
#                                build/demo/ and prints the event log
#   scripts/demo.sh --headless   the second way even with a display
# The packed executable and its CONFIG.TXT (real digests and ports) are left
# in build/demo/.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

jobs=2

say() { printf '\n==================== %s ====================\n' "$*"; }

say deps
if [[ $(id -u) -eq 0 ]]; then
  scripts/install-deps.sh
else
  scripts/install-deps.sh || echo "demo: continuing without root"
fi

say "build: bootpack and kestrel-collector (host)"
cmake --preset host >/dev/null
cmake --build --preset host -j"$jobs" --target bootpack kestrel-collector

say "build: bootstrapper.exe (win32)"
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j"$jobs" --target bootstrapper bootpack
scripts/check-imports.sh build/win32/bootstrapper.exe

say "build: test fixtures (win32-tests)"
cmake --preset win32-tests >/dev/null
cmake --build --preset win32-tests -j"$jobs" --target test_fixtures

say "Wine prefix"
scripts/wine-prefix.sh >/dev/null

say "run"
# The event reports go to port 80 of the loopback address, as the payload says.
timeout 900 python3 tests/e2e/demo.py --win32 build/win32 --tests build/win32-tests \
  --bootpack build/host/bootpack --collector build/host/tools/collector/kestrel-collector \
  --out build/demo "$@"
