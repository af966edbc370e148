#!/usr/bin/env bash
# Installs everything the builds, the Wine test run and the demo need on a
# Debian 12 machine. Run as root. Returns at once when all is installed.
set -euo pipefail

# The i386 packages (wine32) are named with their architecture; the rest
# are native.
packages=(
  # Windows cross build and its inspection
  g++-mingw-w64-i686 binutils-mingw-w64-i686
  # Running and driving Windows programs
  wine wine32:i386 xvfb openbox xdotool x11-utils
  # MSI packages, signatures, test authorities and pictures for the test fixtures
  wixl msitools osslsigncode openssl imagemagick
  # Host build and tests
  cmake make g++ pkg-config libgtest-dev libgmock-dev googletest libbenchmark-dev
  libcurl4-openssl-dev libssl-dev
  # kestrel-collector: its HTTP server, its stores, the PostgreSQL server its
  # tests start, and the browser that draws its report page in a test (zlib
  # reads the picture back)
  libsqlite3-dev libpq-dev postgresql chromium zlib1g-dev
  # Fuzz targets (preset fuzz): clang and its libFuzzer and sanitizer runtimes;
  # the naming check (scripts/check-names.sh)
  clang libclang-rt-14-dev clang-tidy
  # Script helpers
  python3 file git
)

missing=()
for p in "${packages[@]}"; do
  # dpkg -s also answers for removed packages whose config files remain;
  # only "install ok installed" counts.
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done

if ((${#missing[@]} == 0)); then
  echo "install-deps: all ${#packages[@]} packages present"
  exit 0
fi

echo "install-deps: missing: ${missing[*]}"
if [[ $(id -u) -ne 0 ]]; then
  echo "install-deps: run as root to install them" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
# A mirror caught mid-sync fails one index; what was fetched may still
# hold every package, so the install below is what decides.
apt-get update -q || echo "install-deps: the package index did not fully update; installing from what was fetched" >&2
apt-get install -y -q "${packages[@]}"
echo "install-deps: done"
