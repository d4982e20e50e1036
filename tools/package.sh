#!/usr/bin/env bash
# Puts the two programs a release ships into dist/: Ostrad.exe (64-bit) and
# Kestrune.exe (32-bit), with their SHA-256 sums in dist/SHA256SUMS (the
# format of sha256sum, so `sha256sum -c SHA256SUMS` checks a copy).
#   tools/package.sh                         the mingw-w64 builds, built first
#   tools/package.sh OSTRAD_EXE KESTRUNE_EXE  given builds (the Windows workflow
#                                            passes its MSVC Release builds)
set -euo pipefail
cd "$(dirname "$0")/.."
if [ $# = 0 ]; then
  tools/build.sh windows-x64 windows-x86
  set -- build/windows-x64/bin/Ostrad.exe build/windows-x86/bin/Kestrune.exe
fi
[ $# = 2 ] || { echo "usage: tools/package.sh [OSTRAD_EXE KESTRUNE_EXE]" >&2; exit 2; }
rm -rf dist  # a failed run leaves no programs of an earlier one behind

machine_of() { # the machine field of a PE image's file header, in hex
  local header
  header=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
  od -An -tx2 -j$((header + 4)) -N2 "$1" | tr -d ' '
}
# A wrong build must not pass for a release one: build/windows-x64 also holds
# an x86-64 Kestrune.exe, for tests only.
check() { # file name expected-machine what
  [ -f "$1" ] || { echo "package: $1 does not exist" >&2; exit 1; }
  [ "$(basename "$1")" = "$2" ] || { echo "package: $1 is not $2" >&2; exit 1; }
  [ "$(machine_of "$1")" = "$3" ] || { echo "package: $1 is not $4" >&2; exit 1; }
}
check "$1" Ostrad.exe 8664 "a 64-bit (x86-64) program"
check "$2" Kestrune.exe 014c "a 32-bit (i386) program"

mkdir dist
cp "$1" "$2" dist/
# Binary mode (" *name"): the same lines from the Git Bash of Windows, whose
# sha256sum reads in binary mode by default, as from Linux.
(cd dist && sha256sum --binary Ostrad.exe Kestrune.exe >SHA256SUMS)
echo "dist/: Ostrad.exe, Kestrune.exe, SHA256SUMS"
cat dist/SHA256SUMS
