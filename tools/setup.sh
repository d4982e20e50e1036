#!/usr/bin/env bash
# Installs, from Debian's packages, what the builds and tests need and the
# machine lacks. Safe to run again: it installs nothing that is present.
set -euo pipefail

as_root() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }

packages=(cmake make g++ clang libclang-rt-14-dev llvm googletest libgtest-dev
          mingw-w64 wine wine64 openjdk-17-jdk-headless python3 time locales)

# The 32-bit Wine runs Kestrune.exe where the host can execute i386 code.
# Whether it can is decided at run time (tools/winerun), not here: wine32 is
# installed wherever the i386 architecture can be added.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "setup: adding the i386 architecture (for the 32-bit Wine)"
  as_root dpkg --add-architecture i386 || echo "setup: the i386 architecture cannot be added here"
fi
if dpkg --print-foreign-architectures | grep -qx i386; then
  packages+=(wine32:i386)
fi

# Node.js and npm for the workflow validator: the machine's own, else Debian's.
command -v npm >/dev/null || packages+=(nodejs npm)

missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  as_root apt-get update -qq
  if ! as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null; then
    # Without wine32 everything but the 32-bit Kestrune.exe still runs.
    [[ " ${missing[*]} " == *" wine32:i386 "* ]] || exit 1
    echo "setup: installing without wine32:i386"
    remaining=()
    for p in "${missing[@]}"; do [ "$p" = wine32:i386 ] || remaining+=("$p"); done
    [ ${#remaining[@]} -eq 0 ] ||
      as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${remaining[@]}" >/dev/null
  fi
else
  echo "setup: all packages present"
fi

# The workflow validator at the version of tools/workflow-lint/package-lock.json
# (again only when the lock file changed since the last install).
lint=$(dirname "$0")/workflow-lint
if [ ! -e "$lint/node_modules/.package-lock.json" ] || [ "$lint/package-lock.json" -nt "$lint/node_modules/.package-lock.json" ]; then
  echo "setup: installing the workflow validator (npm ci)"
  (cd "$lint" && npm ci --no-audit --no-fund --loglevel=error)
fi
