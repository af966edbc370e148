#!/usr/bin/env bash
# The test command: installs what is missing, then builds and tests every
# preset in turn and stops at the first failure.
#   scripts/test.sh            all steps
#   scripts/test.sh STEP...    only these, in the order given
# Steps: deps host win32 wine-prefix win32-tests e2e host-tsan fuzz sources
# The end-to-end roads mostly wait (on the product's own clocks, on Wine):
# when steps follow them, they run beside those steps, their lines kept in
# build/test-logs/e2e.log and printed when they end.
set -uo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

jobs=2
all_steps=(deps host win32 wine-prefix win32-tests e2e host-tsan fuzz sources)
beside_steps=(e2e)
steps=("$@")
((${#steps[@]})) || steps=("${all_steps[@]}")

step_deps() {
  if [[ $(id -u) -eq 0 ]]; then
    scripts/install-deps.sh
  else
    # Without root it can only tell what is missing.
    scripts/install-deps.sh || echo "test: continuing without root; builds may fail"
  fi
}

# configure, build and ctest one host preset; four tests at a time, as most
# of them wait on clocks, sockets and child processes rather than the CPU
host_preset() {
  cmake --preset "$1" &&
    cmake --build --preset "$1" -j"$jobs" &&
    ctest --preset "$1" -j4
}
step_host() { host_preset host; }
step_host-tsan() { host_preset host-tsan; }

# Every fuzz target once over its seeds and the inputs that once crashed it.
step_fuzz() { scripts/fuzz.sh replay; }

step_win32() {
  cmake --preset win32 &&
    cmake --build --preset win32 -j"$jobs" --target bootstrapper bootpack &&
    scripts/check-imports.sh build/win32/bootstrapper.exe build/win32/bootpack.exe || return 1
  stub_size=$(stat -c %s build/win32/bootstrapper.exe)
  echo "test: stub build/win32/bootstrapper.exe is $stub_size bytes"
}

step_wine-prefix() { scripts/wine-prefix.sh >/dev/null && scripts/wine-prefix.sh check; }

step_win32-tests() {
  cmake --preset win32-tests &&
    cmake --build --preset win32-tests -j"$jobs" --target unit_tests &&
    ctest --preset win32-tests -j2 || return 1
  # ctest counts the Wine processes; tell how many tests ran inside them.
  grep -h -E '^\[==========\] [0-9]+ tests? from|^\[  PASSED  \]' \
    build/win32-tests/Testing/Temporary/LastTest.log | sed 's/^/test: under Wine: /'
  return 0
}

# The real bootstrapper under Wine, driven like a user (tests/e2e/README.md).
# Needs the win32 and win32-tests builds; its X display and Wine environment
# come from scripts/xvfb.sh and scripts/wine-prefix.sh.
step_e2e() {
  cmake --preset win32 >/dev/null &&
    cmake --build --preset win32 -j"$jobs" --target bootstrapper bootpack >/dev/null &&
    cmake --preset win32-tests >/dev/null &&
    cmake --build --preset win32-tests -j"$jobs" --target test_fixtures >/dev/null || return 1
  python3 tests/e2e/run_e2e.py --win32 build/win32 --tests build/win32-tests
}

step_sources() { scripts/check-sources.sh && scripts/check-names.sh; }

names=()
times=()
results=()
stub_size=
summary() {
  echo
  echo "==================== test summary ===================="
  local i total=0
  for i in "${!names[@]}"; do
    printf '  %-12s %-6s %5d s\n' "${names[$i]}" "${results[$i]}" "${times[$i]}"
    total=$((total + times[i]))
  done
  printf '  %-12s %-6s %5d s\n' "sum" "" "$total"
  printf '  %-12s %-6s %5d s\n' "wall time" "" "$SECONDS"
  [[ -n "$stub_size" ]] && echo "  stub size: $stub_size bytes"
}

# A step run beside the later ones: its pid, name, start and log.
beside_pid=
beside_name=
beside_start=
beside_log=

# Waits for the step running beside the others and records it; returns its
# exit code.
finish_beside() {
  [[ -n "$beside_pid" ]] || return 0
  wait "$beside_pid"
  local rc=$?
  echo
  echo "==================== $beside_name (ran beside the steps above) ===================="
  cat "$beside_log"
  names+=("$beside_name")
  times+=($((SECONDS - beside_start)))
  if ((rc != 0)); then results+=(FAILED); else results+=(ok); fi
  beside_pid=
  return $rc
}

failed() {  # step, exit code
  summary
  echo
  echo "test: FAILED at step '$1' (exit code $2); later steps were not run"
  exit 1
}

last_step=${steps[${#steps[@]}-1]}
for step in "${steps[@]}"; do
  if ! declare -F "step_$step" >/dev/null; then
    echo "test: unknown step '$step' (steps: ${all_steps[*]})" >&2
    exit 2
  fi
  if [[ " ${beside_steps[*]} " == *" $step "* && "$step" != "$last_step" && -z "$beside_pid" ]]; then
    mkdir -p build/test-logs
    beside_name=$step
    beside_log=build/test-logs/$step.log
    beside_start=$SECONDS
    echo
    echo "==================== $step (beside the next steps; lines in $beside_log) ===================="
    "step_$step" >"$beside_log" 2>&1 &
    beside_pid=$!
    continue
  fi
  echo
  echo "==================== $step ===================="
  start=$SECONDS
  "step_$step"
  rc=$?
  names+=("$step")
  times+=($((SECONDS - start)))
  if ((rc != 0)); then
    results+=(FAILED)
    finish_beside
    failed "$step" "$rc"
  fi
  results+=(ok)
done

finish_beside || failed "$beside_name" $?
summary
echo
echo "test: all ${#names[@]} steps passed"
