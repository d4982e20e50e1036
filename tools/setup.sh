#!/usr/bin/env bash
# Installs, from Debian's packages, what the builds and tests need and the
# machine lacks. Safe to run again: it installs nothing that is present.
set -euo pipefail

as_root() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }

packages=(cmake make g++ clang libclang-rt-14-dev llvm googletest libgtest-dev
          mingw-w64 wine wine64 wine32:i386 openjdk-17-jdk-headless python3 time locales)

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "setup: adding the i386 architecture (for the 32-bit Wine)"
  as_root dpkg --add-architecture i386
  rm -f /tmp/.korvane-apt-updated
fi

missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  as_root apt-get update -qq
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
else
  echo "setup: all packages present"
fi
