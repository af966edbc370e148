#!/usr/bin/env bash
# Fails when a Windows executable would not load on Windows XP: an import
# from a DLL that Windows does not ship, a function XP lacks, or a PE header
# asking for a newer subsystem version.
#   scripts/check-imports.sh EXE...
set -euo pipefail

if [[ $# -lt 1 ]]; then
  echo "usage: $0 EXE..." >&2
  exit 2
fi

objdump=i686-w64-mingw32-objdump

# DLLs every Windows of the NT family ships (compared case-insensitively).
allowed_dlls='^(kernel32|user32|gdi32|advapi32|shell32|ole32|oleaut32|wininet|rpcrt4|comctl32|msvcrt|shlwapi|ws2_32|version|comdlg32|wintrust|crypt32)\.dll$'

# Functions of the allowed DLLs that appeared after XP. The -posix runtime
# (winpthreads) brings GetTickCount64 and the condition variables; the rest
# are what newer runtimes and headers reach for.
too_new='^(GetTickCount64|.*ConditionVariable.*|.*SRWLock.*|InitOnce.*|Fls(Alloc|Free|GetValue|SetValue)|GetSystemTimePreciseAsFileTime|SetDefaultDllDirectories|AddDllDirectory|RemoveDllDirectory|InitializeCriticalSectionEx|Create(Event|Mutex|Semaphore|WaitableTimer)Ex[AW]|GetFinalPathNameByHandle[AW]|CreateSymbolicLink[AW]|GetFileInformationByHandleEx|SetFileInformationByHandle|CancelIoEx|GetErrorMode|GetThreadId|QueryFullProcessImageName[AW]|(CompareString|LCMapString|GetLocaleInfo|GetUserDefaultLocaleName|ResolveLocaleName)Ex|RegGetValue[AW]|RegDeleteKeyEx[AW]|RegDeleteTree[AW]|inet_pton|inet_ntop|InetPton[AW]|InetNtop[AW]|GetTickCount64|WerRegister.*|CreateRemoteThreadEx|GetCurrentProcessorNumber(Ex)?|GetLogicalProcessorInformationEx|QueryUnbiasedInterruptTime|SetThreadErrorMode|GetThreadErrorMode)$'

status=0
for exe in "$@"; do
  if [[ ! -f "$exe" ]]; then
    echo "check-imports: $exe: no such file" >&2
    status=1
    continue
  fi
  dump=$("$objdump" -p "$exe") || { echo "check-imports: $exe: not a PE file" >&2; status=1; continue; }

  # One "DLL function" pair per imported function.
  imports=$(awk '
    /^\tDLL Name: / { dll = $3; next }
    /^$/ { next }
    dll != "" && /^\t[0-9a-f]+\t/ { name = $NF; print dll, name; next }
    /^[^\t]/ { dll = "" }
  ' <<<"$dump")

  problems=()
  while read -r dll fn; do
    [[ -z "$dll" ]] && continue
    if [[ "${dll,,}" == libwinpthread* ]]; then
      problems+=("$dll!$fn: winpthreads must not be linked (posix-model compiler?)")
    elif [[ ! "${dll,,}" =~ $allowed_dlls ]]; then
      problems+=("$dll!$fn: $dll is not part of Windows")
    elif [[ "$fn" =~ $too_new ]]; then
      problems+=("$dll!$fn: not in Windows XP")
    elif [[ "${dll,,}" == msvcrt.dll && "$fn" =~ _s$ ]]; then
      # XP's msvcrt.dll has none of the bounds-checked *_s functions.
      problems+=("$dll!$fn: not in Windows XP's msvcrt.dll")
    fi
  done <<<"$imports"

  # Linked statically, winpthreads shows only by its names (when not stripped)
  # and by GetTickCount64 above.
  if grep -aqi 'winpthread' "$exe"; then
    problems+=("winpthreads is linked in: link the product with the win32-model compiler")
  fi

  # The loader refuses an image whose subsystem version is above its own (5.1).
  major=$(awk '/^MajorSubsystemVersion/ { print $2 }' <<<"$dump")
  minor=$(awk '/^MinorSubsystemVersion/ { print $2 }' <<<"$dump")
  if ((major > 5 || (major == 5 && minor > 1))); then
    problems+=("subsystem version $major.$minor: Windows XP loads up to 5.1")
  fi
  machine=$(awk '/file format/ { print $NF; exit }' <<<"$dump")
  if [[ "$machine" != pei-i386 ]]; then
    problems+=("architecture $machine: the stub must be 32-bit x86")
  fi

  dlls=$(awk '{ print $1 }' <<<"$imports" | sort -uf | paste -sd' ' -)
  count=$(grep -c . <<<"$imports" || true)
  if ((${#problems[@]})); then
    echo "check-imports: $exe: FAILED (${#problems[@]} problems):"
    printf '  %s\n' "${problems[@]}"
    status=1
  else
    echo "check-imports: $exe: OK, $count functions from $dlls; subsystem $major.$minor"
  fi
done
exit $status
