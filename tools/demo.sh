#!/usr/bin/env bash
# The main job, shown step by step in a Wine prefix of its own: the service
# host installed, run under the Service Control Manager with the stand-in
# agent, stopped and removed; the foreground run ended with Ctrl+C; and the
# credential tool changing a sample product folder's credentials.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
tools/setup.sh
tools/build.sh windows-x64 windows-x86

demo=$root/build/demo
rm -rf "$demo/work"
mkdir -p "$demo/work"
export WINEPREFIX=$demo/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
tools/wine-prefix.sh start "$WINEPREFIX"
trap 'tools/wine-prefix.sh stop "$WINEPREFIX"' EXIT

export OSTRAD_EXE=$root/build/windows-x64/bin/Ostrad.exe
export FAKE_JVM_DLL=$root/build/windows-x64/fake_jvm/jvm.dll
export PYTHONPATH=$root/tests/windows

heading() { printf '\n==== %s\n' "$*"; }

heading "1. The service host as a Windows service"
tools/demo-service.sh "$demo/work/service"

heading "2. The service host in the foreground (Ostrad -d), ended with Ctrl+C"
tools/demo-foreground.py "$demo/work/foreground"

heading "3. The credential tool"
export KESTRUNE_EXE=$root/build/windows-x86/bin/Kestrune.exe
export STANDIN_SERVICE_EXE=$root/build/windows-x86/bin/standin_service.exe
export LANG=C.UTF-8
tools/demo-credential.sh "$demo/work/credential"

heading "Done"
