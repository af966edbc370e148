#!/usr/bin/env bash
# Builds the host-release preset and runs the engine benchmarks once.
#   bench/run.sh [--size-mib N] [--runs N]
# Needs curl and md5sum on PATH; the figures go to standard output.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${KESTREL_BENCH_BUILD:-$root/build/host-release}

cmake --preset host-release -S "$root" -B "$build" >/dev/null
cmake --build "$build" -j2 --target engine_bench
"$build/bench/engine_bench" "$@"
