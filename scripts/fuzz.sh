#!/usr/bin/env bash
# Builds the fuzz targets (preset `fuzz`) and runs them.
#   scripts/fuzz.sh [SECONDS] [TARGET...]  each target in turn for SECONDS (default 60)
#                                         over a scratch copy of its corpus
#   scripts/fuzz.sh replay [TARGET...]     each target once over its corpus and
#                                         regressions (what CI runs)
# Targets: payload_reader config launcher_output request_encoding event_record
# bootpack_lint bootpack_list report_parser request_head. The committed corpora
# never grow here; a crash input is kept under build/fuzz/crashes/TARGET/ (add
# it to fuzz/regressions/TARGET/ once fixed).
set -uo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

all_targets=(payload_reader config launcher_output request_encoding event_record bootpack_lint
  bootpack_list report_parser request_head)
mode=run
seconds=60
if [[ "${1:-}" == replay ]]; then
  mode=replay
  shift
elif [[ "${1:-}" =~ ^[0-9]+$ ]]; then
  seconds=$1
  shift
fi
targets=("$@")
((${#targets[@]})) || targets=("${all_targets[@]}")
for target in "${targets[@]}"; do
  if [[ ! -f "fuzz/${target}_fuzz.cpp" ]]; then
    echo "fuzz: unknown target '$target' (targets: ${all_targets[*]})" >&2
    exit 2
  fi
done

cmake --preset fuzz >/dev/null && cmake --build --preset fuzz -j2 >/dev/null || {
  echo "fuzz: the build failed (cmake --build --preset fuzz)" >&2
  exit 1
}
bin=build/fuzz/fuzz
# Memory-backed when possible: the targets rewrite a file for every input, and
# on ext4 a truncated and rewritten file is forced to disk.
base=${TMPDIR:-/tmp}
[[ -z "${TMPDIR:-}" && -w /dev/shm ]] && base=/dev/shm
scratch=$(mktemp -d "$base/kestrel-fuzz-run-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
# The targets make their own files here, removed when they exit.
export TMPDIR=$scratch

failures=0
if [[ $mode == replay ]]; then
  for target in "${targets[@]}"; do
    inputs=("fuzz/corpus/$target")
    [[ -d "fuzz/regressions/$target" ]] && inputs+=("fuzz/regressions/$target")
    count=$(find "${inputs[@]}" -type f | wc -l)
    log=$scratch/$target.log
    if "$bin/fuzz_$target" -runs=0 "${inputs[@]}" >"$log" 2>&1; then
      printf 'fuzz: %-18s ok      %4d inputs\n' "$target" "$count"
    else
      printf 'fuzz: %-18s FAILED  (%d inputs)\n' "$target" "$count"
      grep -E 'ERROR|check failed|Running: |SUMMARY' "$log" | head -20 | sed 's/^/    /'
      failures=$((failures + 1))
    fi
  done
  ((failures == 0)) || {
    echo "fuzz: replay FAILED for $failures targets"
    exit 1
  }
  echo "fuzz: replay passed"
  exit 0
fi

for target in "${targets[@]}"; do
  work=$scratch/$target
  mkdir -p "$work/corpus"
  cp fuzz/corpus/"$target"/* "$work/corpus/"
  [[ -d "fuzz/regressions/$target" ]] && cp fuzz/regressions/"$target"/* "$work/corpus/"
  log=$work/log
  dict=()
  case $target in
    config | bootpack_lint) dict=(-dict="$PWD/fuzz/config.dict") ;;
    launcher_output) dict=(-dict="$PWD/fuzz/launcher_output.dict") ;;
    event_record | report_parser | request_head) dict=(-dict="$PWD/fuzz/report.dict") ;;
    payload_reader | bootpack_list) dict=(-dict="$PWD/fuzz/payload.dict") ;;
  esac
  (cd "$work" && "$OLDPWD/$bin/fuzz_$target" -max_total_time="$seconds" -timeout=10 \
    -print_final_stats=1 -artifact_prefix="$work/" "${dict[@]}" corpus >"$log" 2>&1)
  rc=$?
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  # After a crash the final stats are missing; the last status line has the count.
  [[ -n "$execs" ]] || execs=$(grep -oE '^#[0-9]+' "$log" | tail -1 | tr -d '#')
  result=ok
  if ((rc != 0)); then
    artifact=$(find "$work" -maxdepth 1 -type f \( -name 'crash-*' -o -name 'leak-*' \
      -o -name 'timeout-*' -o -name 'oom-*' \) | head -1)
    mkdir -p "build/fuzz/crashes/$target"
    cp "$log" "build/fuzz/crashes/$target/last.log"
    if [[ -n "$artifact" ]]; then
      cp "$artifact" "build/fuzz/crashes/$target/"
      result="crash: build/fuzz/crashes/$target/$(basename "$artifact")"
    else
      result="failed (exit $rc), log: build/fuzz/crashes/$target/last.log"
    fi
    failures=$((failures + 1))
  fi
  printf 'fuzz: %-18s %10s execs  %7s execs/s  %s\n' "$target" "${execs:-?}" "${rate:-?}" "$result"
done
((failures == 0)) || exit 1
