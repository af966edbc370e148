#!/usr/bin/env bash
# Builds what the benchmarks need, runs them all and ends with one table of
# every figure, its peer and their ratio, under the machine and build that
# measured them. Each figure is the median of --runs runs (default 3).
#   bench/run.sh [--runs N] [--size-mib N] [--host-only | --wine-only]
# Host: engine_bench, logger_bench, collector_bench and collector_hostile_bench (host-release). Windows, under Wine: wine_bench from the
# win32 preset's flags in build/win32-bench (with the bootstrapper.exe it
# packs), the e2e fixtures of the win32-tests preset, and bench/wine_road.py.
# Needs curl, md5sum, Wine, Xvfb and openbox; the whole run needs root (the
# e2e log server listens on port 80). About 4 minutes with 3 runs.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
host=${KESTREL_BENCH_BUILD:-$root/build/host-release}
win32=$root/build/win32-bench
tests=$root/build/win32-tests
runs=3
do_host=1
do_wine=1
size_mib=256
payload_mib=64

while [[ $# -gt 0 ]]; do
  case "$1" in
    --runs) runs=$2; shift 2 ;;
    --size-mib) size_mib=$2; shift 2 ;;
    --host-only) do_wine=0; shift ;;
    --wine-only) do_host=0; shift ;;
    *) echo "usage: $0 [--runs N] [--size-mib N] [--host-only | --wine-only]" >&2; exit 2 ;;
  esac
done

work=$(mktemp -d "${TMPDIR:-/tmp}/kestrel-bench-run.XXXXXX")
server_pid=
file_server_pid=
cleanup() {
  [[ -n "$server_pid" ]] && kill "$server_pid" 2>/dev/null
  [[ -n "$file_server_pid" ]] && kill "$file_server_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
figures=$work/figures
touch "$figures"
load_before=$(cut -d' ' -f1-3 /proc/loadavg)

# Runs one benchmark, showing its output and keeping its figure lines; a
# benchmark that fails leaves a row saying so and the others still run.
measure() {
  local name=$1
  shift
  echo "== $name"
  local rc=0
  "$@" >"$work/part.out" 2>&1 || rc=$?
  tr -d '\r' <"$work/part.out" | grep -v '^wine-prefix:' | tee "$work/part.txt" | grep -v '^FIGURE' || true
  grep '^FIGURE' "$work/part.txt" >>"$figures" || true
  if ((rc != 0)); then
    echo "FIGURE|$name|failed (exit $rc)|-|-|-|-|not measured" >>"$figures"
  fi
}

if ((do_host)); then
  cmake --preset host-release -S "$root" -B "$host" >/dev/null
  cmake --build "$host" -j2 --target engine_bench logger_bench collector_bench \
    collector_hostile_bench >/dev/null
  measure "host: engine_bench" "$host/bench/engine_bench" --size-mib "$size_mib" --runs "$runs"
  measure "host: logger_bench" "$host/bench/logger_bench"
  measure "host: collector_bench" "$host/bench/collector_bench"
  measure "host: collector_hostile_bench" "$host/bench/collector_hostile_bench"
  # The page over 1 million records (about 2 minutes); 10 million by hand.
  cmake --build "$host" -j2 --target collector_page_bench >/dev/null &&
    measure "host: collector_page_bench" "$host/bench/collector_page_bench" --records 1000000
fi

if ((do_wine)); then
  cmake --preset host-release -S "$root" -B "$host" >/dev/null
  cmake --build "$host" -j2 --target bench_server bootpack >/dev/null
  cmake --preset win32 -S "$root" -B "$win32" -DKESTREL_BUILD_BENCH=ON >/dev/null
  cmake --build "$win32" -j2 --target bootstrapper wine_bench >/dev/null
  cmake --preset win32-tests -S "$root" -B "$tests" >/dev/null
  cmake --build "$tests" -j2 --target test_fixtures >/dev/null
  bench_exe=$win32/bench/wine_bench.exe

  # One server on the host for curl and for Wine.
  mkfifo "$work/server.in"
  "$host/bench/bench_server" $((size_mib << 20)) <"$work/server.in" >"$work/server.port" &
  server_pid=$!
  exec {server_in}>"$work/server.in"
  for _ in $(seq 50); do [[ -s "$work/server.port" ]] && break; sleep 0.1; done
  url="http://127.0.0.1:$(cat "$work/server.port")/body.bin"

  # The host's own tools on the same body, for reference.
  reference=()
  for _ in $(seq "$runs"); do
    rm -f "$work/curl.bin"
    sync
    start=$(date +%s.%N)
    curl -s -o "$work/curl.bin" "$url"
    md5sum "$work/curl.bin" >/dev/null
    reference+=("$(echo "$(date +%s.%N) - $start" | bc)")
  done
  rm -f "$work/curl.bin"
  curl_md5=$(printf '%s\n' "${reference[@]}" | sort -n | sed -n "$(((runs + 1) / 2))p")
  echo "== host reference: curl + md5sum of $size_mib MiB: ${reference[*]} s (median $curl_md5 s)"

  measure "Wine: download + MD5" "$root/scripts/wine-run.sh" "$bench_exe" download "$url" "$runs" \
    "$curl_md5"
  exec {server_in}>&-
  wait "$server_pid" || true
  server_pid=

  # A signed installer of --size-mib (the fixture with data appended, then
  # signed as the test fixtures are): its checks against the download of as
  # many bytes, and its whole download with MD5, SHA-256 and signer (served
  # as it is by a second server) against the bare loop with the same checks.
  signed=$work/signed
  mkdir -p "$signed"
  cp "$tests/tests/fixtures/fake_dotnetfx.exe" "$signed/big.exe"
  head -c $((size_mib << 20)) /dev/urandom >>"$signed/big.exe"
  "$root/tests/fixtures/make_signed_installers.sh" "$signed" "$signed/big.exe" \
    "$tests/tests/fixtures/TestAgent.msi"
  mkfifo "$work/verify.in" "$work/signed.in"
  "$host/bench/bench_server" $(stat -c %s "$signed/signed.exe") <"$work/verify.in" \
    >"$work/verify.port" &
  server_pid=$!
  "$host/bench/bench_server" --file "$signed/signed.exe" <"$work/signed.in" \
    >"$work/signed.port" &
  file_server_pid=$!
  exec {verify_in}>"$work/verify.in" {signed_in}>"$work/signed.in"
  for _ in $(seq 100); do [[ -s "$work/verify.port" && -s "$work/signed.port" ]] && break; sleep 0.1; done
  measure "Wine: SHA-256 + signature check" "$root/scripts/wine-run.sh" "$bench_exe" verify \
    "http://127.0.0.1:$(cat "$work/verify.port")/body.bin" "$runs" "$signed/signed.exe" \
    "$signed/authority.der" "Kestrel Test Publisher" \
    "http://127.0.0.1:$(cat "$work/signed.port")/signed.exe"
  exec {verify_in}>&- {signed_in}>&-
  wait "$server_pid" "$file_server_pid" || true
  server_pid=
  file_server_pid=
  rm -rf "$signed"

  measure "Wine: launcher-output tail" "$root/scripts/wine-run.sh" "$bench_exe" tail 100

  # A payload with an embedded dotnetfx.exe, packed as a distributor would.
  stage=$work/startup
  mkdir -p "$stage"
  head -c $((payload_mib << 20)) /dev/urandom >"$stage/dotnetfx.exe"
  PYTHONPATH=$root/tests/e2e python3 - "$stage" <<'EOF'
import os, sys
import payload
stage = sys.argv[1]
text = payload.config_text({"host": "127.0.0.1", "base": "http://127.0.0.1:9",
                            "dotnet_md5": payload.md5_of(os.path.join(stage, "dotnetfx.exe")),
                            "sp_md5": ""})
with open(os.path.join(stage, "CONFIG.TXT"), "wb") as f:
    f.write(text)
EOF
  "$host/bootpack" pack --stub "$win32/bootstrapper.exe" --out "$stage/KestrelSetup.exe" \
    "$stage/CONFIG.TXT" "$stage/dotnetfx.exe" >/dev/null 2>&1
  "$host/bootpack" pack --stub "$win32/bootstrapper.exe" --out "$stage/KestrelSetup-small.exe" \
    "$stage/CONFIG.TXT" >/dev/null 2>&1
  measure "Wine: start-up with a $payload_mib MiB payload" "$root/scripts/xvfb.sh" \
    "$root/scripts/wine-run.sh" "$bench_exe" watch "$runs" "$stage/KestrelSetup.exe" \
    $((payload_mib << 20)) "$stage/KestrelSetup-small.exe"
  rm -rf "$stage"

  if [[ $(id -u) -eq 0 ]]; then
    measure "Wine: whole fresh run" python3 "$root/bench/wine_road.py" --win32 "$win32" \
      --tests "$tests" --bootpack "$host/bootpack" --runs "$runs" --work "$root/build/bench-e2e"
  else
    echo "FIGURE|Wine: whole fresh run|needs root (the log server's port 80)|-|-|-|-|not measured" \
      >>"$figures"
  fi
fi

load_after=$(cut -d' ' -f1-3 /proc/loadavg)
commit=$(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo unknown)
git -C "$root" diff --quiet HEAD 2>/dev/null || commit="$commit (with uncommitted changes)"
cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n1)
memory=$(awk '/^MemTotal/ {printf "%.0f GB", $2 / 1048576}' /proc/meminfo)
# shellcheck source=/dev/null
system=$(. /etc/os-release && echo "$PRETTY_NAME")

echo
echo "== Figures (medians of $runs runs)"
echo "Machine: $(nproc) cores ($cpu), $memory, $system, kernel $(uname -r)"
echo "Build: commit $commit; host-release $(g++ -dumpfullversion) -O3;" \
  "win32 preset flags (-Os) with $(i686-w64-mingw32-g++ -dumpfullversion);" \
  "$(wine --version 2>/dev/null || echo 'no Wine')"
echo "Load average: $load_before before, $load_after after; $(date -u '+%Y-%m-%d %H:%M UTC')"
echo
{
  echo "What|Ours|Peer|Peer's figure|Ratio|Goal|Result"
  echo "---|---|---|---|---|---|---"
  cut -d'|' -f2- "$figures"
} | column -t -s'|'
