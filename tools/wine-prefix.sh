#!/usr/bin/env bash
# wine-prefix.sh start|stop PREFIX
# start: makes the Wine prefix once (kept between runs of the same build tree)
#        and holds a persistent wineserver for it, so that services.exe and the
#        state of the Service Control Manager last across the test commands.
# stop:  ends the wineserver and every Wine process of the prefix.
set -euo pipefail
action=$1
export WINEPREFIX=$2
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

case $action in
start)
  wineserver -k 2>/dev/null || true
  if [ ! -f "$WINEPREFIX/.prefix-ready" ]; then
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    echo "Making the Wine prefix $WINEPREFIX (about 20 s)"
    wineboot -i </dev/null >/dev/null 2>&1
    wineserver -w
    touch "$WINEPREFIX/.prefix-ready"
  fi
  # -p: the server stays until it is killed (stop), not until its last client ends.
  # The server and the programs it starts (services.exe, winedevice.exe) live
  # on: they must not hold the caller's stdout/stderr, or CTest waits for them.
  wineserver -p >/dev/null 2>&1 </dev/null
  wine cmd /c exit 0 >/dev/null 2>&1 </dev/null
  echo "Wine prefix ready: $WINEPREFIX"
  ;;
stop)
  wineserver -k 2>/dev/null || true
  ;;
*)
  echo "usage: $0 start|stop PREFIX" >&2
  exit 2
  ;;
esac
