#!/usr/bin/env bash
# The Wine prefix every Windows test starts from: 32-bit, reporting Windows XP,
# no Mono/Gecko prompts, no crash dialog. It is made once under
# build/wine-template (5-10 s) and copied for each run (about 3 s), so no run
# sees what an earlier one left in its registry or folders.
#
#   scripts/wine-prefix.sh [template]  make the template if needed, print its path
#   scripts/wine-prefix.sh new DIR     copy the template to DIR (DIR must not exist)
#   scripts/wine-prefix.sh check       run the XP probe in a fresh copy
#   scripts/wine-prefix.sh env [DIR]   print the Wine environment as KEY=VALUE
#                                      lines (with WINEPREFIX=DIR when given)
#
# Sourced, it defines kestrel_wine_env, kestrel_wine_template and
# kestrel_wine_new_prefix for other scripts.

KESTREL_ROOT=${KESTREL_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
KESTREL_WINE_TEMPLATE=${KESTREL_WINE_TEMPLATE:-$KESTREL_ROOT/build/wine-template}
# Bump when the template's recipe changes, so old templates are remade.
KESTREL_WINE_RECIPE=2

# The environment every Wine call of the rig runs with. Empty overrides
# disable the two DLLs that would offer to download Mono and Gecko; nothing
# here needs them and no machine here could fetch them.
_kestrel_wine_vars=(WINEARCH=win32 WINEDEBUG=-all "WINEDLLOVERRIDES=mscoree,mshtml=")

kestrel_wine_env() {
  export "${_kestrel_wine_vars[@]}"
}

_kestrel_wine_stamp() {
  printf 'recipe %s, %s, uid %s\n' "$KESTREL_WINE_RECIPE" "$(wine --version)" "$(id -u)"
}

# Compiles a small program that exits 0 only when Windows says it is XP
# (5.1, NT platform), and runs it in the prefix $1.
_kestrel_wine_probe() {
  local prefix=$1 dir rc=0
  dir=$(mktemp -d "${TMPDIR:-/tmp}/kestrel-probe.XXXXXX")
  cat >"$dir/probe.c" <<'EOF'
#include <windows.h>
#include <stdio.h>
int main(void) {
  OSVERSIONINFOA v;
  v.dwOSVersionInfoSize = sizeof v;
  if (!GetVersionExA(&v)) return 2;
  printf("GetVersionExA: %lu.%lu platform %lu\n", v.dwMajorVersion, v.dwMinorVersion,
         v.dwPlatformId);
  return v.dwMajorVersion == 5 && v.dwMinorVersion == 1 && v.dwPlatformId == 2 ? 0 : 1;
}
EOF
  if ! i686-w64-mingw32-gcc -O1 -s -o "$dir/probe.exe" "$dir/probe.c"; then
    rm -rf "$dir"
    return 1
  fi
  WINEPREFIX=$prefix wine "$dir/probe.exe" | tr -d '\r' || rc=$?
  WINEPREFIX=$prefix wineserver -w
  rm -rf "$dir"
  return $rc
}

_kestrel_wine_build_template() {
  local new="$KESTREL_WINE_TEMPLATE.new.$$" start=$SECONDS
  rm -rf "$new"
  mkdir -p "$new"
  echo "wine-prefix: making $KESTREL_WINE_TEMPLATE" >&2
  (
    export WINEPREFIX=$new
    wineboot -i &&
      wine reg add 'HKCU\Software\Wine' /v Version /d winxp /f >/dev/null &&
      wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
        >/dev/null &&
      wineserver -w
  ) || {
    echo "wine-prefix: wineboot failed" >&2
    rm -rf "$new"
    return 1
  }
  if ! _kestrel_wine_probe "$new" >&2; then
    echo "wine-prefix: the new prefix does not report Windows XP" >&2
    rm -rf "$new"
    return 1
  fi
  _kestrel_wine_stamp >"$new/.kestrel-template"
  rm -rf "$KESTREL_WINE_TEMPLATE"
  mv "$new" "$KESTREL_WINE_TEMPLATE"
  echo "wine-prefix: template ready in $((SECONDS - start)) s" >&2
}

# Makes the template unless a complete one of this recipe is there.
kestrel_wine_template() {
  kestrel_wine_env
  mkdir -p "$(dirname "$KESTREL_WINE_TEMPLATE")"
  local lock rc=0
  exec {lock}>"$KESTREL_WINE_TEMPLATE.lock"
  flock -x "$lock"
  if [[ "$(cat "$KESTREL_WINE_TEMPLATE/.kestrel-template" 2>/dev/null)" != "$(_kestrel_wine_stamp)" ]]; then
    _kestrel_wine_build_template || rc=$?
  fi
  exec {lock}>&-
  return $rc
}

# Copies the template to $1, which must not exist yet.
kestrel_wine_new_prefix() {
  local dest=$1 lock rc=0
  if [[ -e "$dest" ]]; then
    echo "wine-prefix: $dest already exists" >&2
    return 1
  fi
  kestrel_wine_template || return 1
  # A shared lock keeps a rebuild from replacing the template mid-copy.
  exec {lock}>"$KESTREL_WINE_TEMPLATE.lock"
  flock -s "$lock"
  cp -a "$KESTREL_WINE_TEMPLATE" "$dest" || rc=$?
  exec {lock}>&-
  rm -f "$dest/.kestrel-template"
  return $rc
}

if [[ "${BASH_SOURCE[0]}" == "$0" ]]; then
  set -euo pipefail
  case "${1:-template}" in
    template)
      kestrel_wine_template
      echo "$KESTREL_WINE_TEMPLATE"
      ;;
    new)
      [[ $# -eq 2 ]] || { echo "usage: $0 new DIR" >&2; exit 2; }
      kestrel_wine_new_prefix "$2"
      ;;
    check)
      kestrel_wine_template
      dir=$(mktemp -d "${TMPDIR:-/tmp}/kestrel-wine.XXXXXX")
      trap 'rm -rf "$dir"' EXIT
      kestrel_wine_new_prefix "$dir/prefix"
      _kestrel_wine_probe "$dir/prefix"
      ;;
    env)
      [[ $# -le 2 ]] || { echo "usage: $0 env [DIR]" >&2; exit 2; }
      printf '%s\n' "${_kestrel_wine_vars[@]}"
      [[ $# -eq 1 ]] || echo "WINEPREFIX=$2"
      ;;
    *)
      echo "usage: $0 [template | new DIR | check | env [DIR]]" >&2
      exit 2
      ;;
  esac
fi
