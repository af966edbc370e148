#!/usr/bin/env bash
# Checks the naming style of .clang-tidy over every source the host and the
# Windows test builds compile (their configure step writes the compile
# commands; scripts/test.sh runs it after both builds). clang-tidy cannot read GCC's precompiled headers, so they are
# left out of its copy of the commands; for the MinGW sources it is given the
# target and the cross compiler's own include folders. A file both builds
# compile is checked once, by the host build, unless it has code for Windows
# alone (an _WIN32 branch), which only the Windows build sees.
#   scripts/check-names.sh
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for preset in host win32-tests; do
  [[ -f build/$preset/compile_commands.json ]] || cmake --preset "$preset" >/dev/null
done

mapfile -t tracked < <(git ls-files -- '*.cpp' | sed "s|^|$PWD/|")
printf '%s\n' "${tracked[@]}" >"$work/tracked"

python3 - "$work" build/host build/win32-tests <<'PY'
import json, os, re, shlex, subprocess, sys
work, builds = sys.argv[1], sys.argv[2:]
tracked = set(open(os.path.join(work, "tracked")).read().split())

def cross_includes(compiler):
    out = subprocess.run([compiler, "-xc++", "-E", "-v", "-"], input="",
                         capture_output=True, text=True).stderr
    block = out.split("#include <...> search starts here:")[1].split("End of search list.")[0]
    return [os.path.normpath(line.strip()) for line in block.splitlines() if line.strip()]

checked = set()
for n, build in enumerate(builds):
    entries = json.load(open(os.path.join(build, "compile_commands.json")))
    kept = []
    for e in entries:
        if e["file"] not in tracked:
            continue
        if e["file"] in checked and "_WIN32" not in open(e["file"], errors="replace").read():
            continue
        args = shlex.split(e["command"])
        cleaned, skip = [], False
        for a in args:
            if skip:
                skip = False
                continue
            if a == "-include" :
                skip = True
                continue
            if a == "-Winvalid-pch":
                continue
            cleaned.append(a)
        if "mingw32" in cleaned[0]:
            extra = ["--target=i686-w64-mingw32"]
            for inc in cross_includes(cleaned[0]):
                extra += ["-isystem", inc]
            cleaned = [cleaned[0]] + extra + cleaned[1:]
        e["command"] = shlex.join(cleaned)
        kept.append(e)
    checked |= {e["file"] for e in kept}
    folder = os.path.join(work, str(n))
    os.makedirs(folder)
    json.dump(kept, open(os.path.join(folder, "compile_commands.json"), "w"))
    open(os.path.join(folder, "files"), "w").write("\n".join(sorted({e["file"] for e in kept})))
    print(f"check-names: {len(kept)} files of {build}", file=sys.stderr)
PY

problems=0
for n in 0 1; do
  mapfile -t files <"$work/$n/files"
  run-clang-tidy -quiet -p "$work/$n" -j2 "${files[@]}" >"$work/$n/out" 2>&1 || true
  if grep -E '(error|warning):' "$work/$n/out" | sed 's/\x1b\[[0-9;]*m//g' | sort -u >"$work/$n/found"; then
    cat "$work/$n/found"
    problems=$((problems + $(wc -l <"$work/$n/found")))
  fi
done

if ((problems)); then
  echo "check-names: FAILED, $problems problems"
  exit 1
fi
echo "check-names: OK"
