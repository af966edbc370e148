#!/usr/bin/env bash
# Keeps three rules of the source tree that no compiler enforces on Linux:
# 1. Windows headers are included only by platform/win32/, ui/ and
#    session/win32_main.cpp; a unit test elsewhere may include them only
#    under #ifdef _WIN32 (tests/ may: its Windows-only fixtures build for
#    Windows alone; so may bench/win32/, the benchmarks run under Wine).
# 2. Product code uses neither iostreams (hundreds of KiB in the stub) nor
#    the standard thread library (absent from the win32 thread model); only
#    the posix platform layer, tests, benchmarks and the collector (a Linux
#    server, never built for Windows) may.
# 3. session/ sits on top: nothing below it (components, engine, payload,
#    diagnostics, platform, ui, tools) includes a session/ header; only
#    session/ itself, with the entry point, and the shared fixtures of tests/ may.
#   scripts/check-sources.sh
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

windows_headers='(windows|win(base|def|nt|user|gdi|reg|error|ver|inet|http|crypt|sock|sock2|svc|ioctl|ternl)|ws2tcpip|ws2def|mswsock|iphlpapi|shellapi|shlobj|shlwapi|objbase|objidl|ole2|olectl|ocidl|oleauto|unknwn|commctrl|commdlg|tlhelp32|psapi|msi|msiquery|rpc|rpcdce|mmsystem|wtsapi32|userenv|dbghelp|process|io|direct|conio)\\.h'
banned_headers='iostream|istream|ostream|fstream|sstream|thread|mutex|shared_mutex|condition_variable|future'

if git rev-parse --git-dir >/dev/null 2>&1; then
  mapfile -t files < <(git ls-files --cached --others --exclude-standard \
    -- '*.c' '*.cc' '*.cpp' '*.h' '*.hpp' '*.inl' | sort)
else
  mapfile -t files < <(find . -path ./build -prune -o -path ./.git -prune -o -type f \
    \( -name '*.c' -o -name '*.cc' -o -name '*.cpp' -o -name '*.h' -o -name '*.hpp' \
    -o -name '*.inl' \) -print | sed 's|^\./||' | sort)
fi

problems=0
report() {
  echo "check-sources: $1"
  problems=$((problems + 1))
}

# Prints "line header guarded" for each #include <header> of the given
# family; guarded is 1 when an enclosing #if branch holds only on Windows.
includes_of() {
  awk -v family="^($1)\$" '
    function win_positive(cond) {
      return cond ~ /^(ifdef|if)[ \t(]+(defined[ \t(]*)?_WIN32/ || cond ~ /^elif[ \t(]+(defined[ \t(]*)?_WIN32/
    }
    function win_negative(cond) {
      return cond ~ /^ifndef[ \t]+_WIN32/ || cond ~ /^(if|elif)[ \t]*![ \t(]*(defined[ \t(]*)?_WIN32/
    }
    {
      line = $0
      sub(/^[ \t]*#[ \t]*/, "#", line)
      if (line !~ /^#/) next
      d = substr(line, 2)
      if (d ~ /^if/) {
        depth++
        guard[depth] = win_positive(d) ? 1 : 0
        neg[depth] = win_negative(d) ? 1 : 0
      } else if (d ~ /^elif/) {
        guard[depth] = win_positive(d) ? 1 : 0
        neg[depth] = 0
      } else if (d ~ /^else/) {
        guard[depth] = neg[depth]
        neg[depth] = 0
      } else if (d ~ /^endif/) {
        depth--
      } else if (d ~ /^include[ \t]*</) {
        h = d
        sub(/^include[ \t]*</, "", h)
        sub(/>.*/, "", h)
        if (tolower(h) ~ family) {
          g = 0
          for (i = 1; i <= depth; i++) if (guard[i]) g = 1
          print NR, h, g
        }
      }
    }' "$2"
}

for f in "${files[@]}"; do
  case "$f" in
    build/* | .git/*) continue ;;
  esac
  is_test=0
  [[ "$f" == tests/* || "$f" == *_test.cpp || "$f" == *_test.h ]] && is_test=1

  # Rule 1: Windows headers.
  case "$f" in
    platform/win32/* | ui/* | session/win32_main.cpp | tests/* | bench/win32/*) ;;
    *)
      while read -r line header guarded; do
        if ((is_test)) && ((guarded)); then continue; fi
        if ((is_test)); then
          report "$f:$line: <$header> in a test outside #ifdef _WIN32"
        else
          report "$f:$line: <$header> outside platform/win32/, ui/ and session/win32_main.cpp"
        fi
      done < <(includes_of "$windows_headers" "$f")
      ;;
  esac

  # Rule 3: only session/ and tests/ include session/ headers.
  case "$f" in
    session/* | tests/*) ;;
    *)
      while IFS=: read -r line _; do
        report "$f:$line: a session/ header outside session/ (the layers below must not see it)"
      done < <(grep -n '^[[:space:]]*#[[:space:]]*include[[:space:]]*"session/' "$f" || true)
      ;;
  esac

  # Rule 2: iostreams and standard threads.
  ((is_test)) && continue
  case "$f" in
    platform/posix/* | bench/* | tools/collector/*) continue ;;
  esac
  while read -r line header guarded; do
    report "$f:$line: <$header> in product code (use C stdio, platform/files.h, platform/sync.h)"
  done < <(includes_of "$banned_headers" "$f")
done

if ((problems)); then
  echo "check-sources: FAILED, $problems problems"
  exit 1
fi
echo "check-sources: OK, ${#files[@]} files"
