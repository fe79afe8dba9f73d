#!/usr/bin/env bash
# Makes sure that the Debian packages named on the command line are there.
#   scripts/ensure-packages.sh pkg...
# Missing ones are installed with apt-get when this runs as root, or through
# sudo when sudo needs no password. Otherwise it names the packages and the
# command to run as root, and exits 1. On a system without dpkg, each package
# is looked for by the tool or file it brings; when one is missing, it names
# what to install with the system's own package manager, and exits 1.
set -euo pipefail

# Whether what Debian package $1 brings is on this system (for systems
# without dpkg).
have_equivalent() {
  local gtest
  case $1 in
    g++) command -v g++ >/dev/null ;;
    libgtest-dev)
      for gtest in /usr/include/gtest/gtest.h /usr/local/include/gtest/gtest.h; do
        [ -f "$gtest" ] && return 0
      done
      return 1
      ;;
    util-linux) command -v setsid >/dev/null ;;
    bsdutils) command -v script >/dev/null ;;
    clang) command -v clang++ >/dev/null ;;
    libclang-rt-*-dev) [ -f "$(clang++ -print-file-name=libclang_rt.fuzzer-x86_64.a 2>/dev/null)" ] ;;
    dpkg-dev) command -v dpkg-buildflags >/dev/null ;;
    man-db) command -v man >/dev/null ;;
    groff-base) command -v groff >/dev/null ;;
    devscripts) command -v hardening-check >/dev/null ;;
    binutils) command -v objcopy >/dev/null ;;
    g++-mingw-w64-x86-64) command -v x86_64-w64-mingw32-g++-posix >/dev/null ;;
    wine64) command -v wine64 >/dev/null || [ -x /usr/lib/wine/wine64 ] ;;
    *) command -v "$1" >/dev/null ;; # cmake, make, git, gzip, file, wine, lintian, ...
  esac
}

missing=()
if command -v dpkg-query >/dev/null; then
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" ||
      missing+=("$pkg")
  done
else
  for pkg in "$@"; do
    have_equivalent "$pkg" || missing+=("$pkg")
  done
fi
[ ${#missing[@]} -eq 0 ] && exit 0

if ! command -v dpkg-query >/dev/null || ! command -v apt-get >/dev/null; then
  cat >&2 <<MSG
This system has no dpkg or apt-get, and lacks what these Debian packages
bring: ${missing[*]}
Install their equivalents with the system's own package manager, then run
the command again.
MSG
  exit 1
fi

as_root=()
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null && sudo -n true 2>/dev/null; then
    as_root=(sudo -n)
  else
    cat >&2 <<MSG
These Debian packages are missing: ${missing[*]}
Installing them needs root rights. Run as root (or with sudo):
    apt-get update && apt-get install --no-install-recommends ${missing[*]}
then run the command again.
MSG
    exit 1
  fi
fi
echo "Installing: ${missing[*]}"
"${as_root[@]}" apt-get -o DPkg::Lock::Timeout=600 update -qq
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install \
  -y -qq --no-install-recommends "${missing[@]}"
