#!/usr/bin/env bash
# wine-prefix.sh start|stop PREFIX
# start: makes the Wine prefix once (kept between runs of the same build tree)
#        and holds a persistent wineserver for it, so that services.exe and the
#        state of the Service Control Manager last across the test commands.
# stop:  ends the wineserver and every Wine process of the prefix.
# Wine is started through tools/winerun, which picks the loader this host can run.
set -euo pipefail
action=$1
export WINEPREFIX=$(realpath -m "$2")  # Wine takes absolute prefixes only
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
winerun=$(dirname "$0")/winerun
eval "$("$winerun" --describe)"

case $action in
start)
  "$winerun" --server -k 2>/dev/null || true
  # A prefix made by the 64-bit loader alone has no 32-bit side: remake it
  # when the loader choice has changed since it was made.
  made_for="i386=$KORVANE_WINE_I386"
  if [ "$(cat "$WINEPREFIX/.prefix-ready" 2>/dev/null)" != "$made_for" ]; then
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    echo "Making the Wine prefix $WINEPREFIX (about 20 s) with $KORVANE_WINE_LOADER ($KORVANE_WINE_WHY)"
    if ! "$winerun" wineboot -i </dev/null >"$WINEPREFIX.wineboot.log" 2>&1; then
      echo "wineboot failed with $KORVANE_WINE_LOADER; its output:" >&2
      tail -20 "$WINEPREFIX.wineboot.log" >&2
      exit 1
    fi
    "$winerun" --server -w
    echo "$made_for" > "$WINEPREFIX/.prefix-ready"
  fi
  # -p: the server stays until it is killed (stop), not until its last client ends.
  # The server and the programs it starts (services.exe, winedevice.exe) live
  # on: they must not hold the caller's stdout/stderr, or CTest waits for them.
  "$winerun" --server -p >/dev/null 2>&1 </dev/null
  "$winerun" cmd /c exit 0 >/dev/null 2>&1 </dev/null
  echo "Wine prefix ready: $WINEPREFIX ($KORVANE_WINE_LOADER: $KORVANE_WINE_WHY)"
  ;;
stop)
  "$winerun" --server -k 2>/dev/null || true
  ;;
*)
  echo "usage: $0 start|stop PREFIX" >&2
  exit 2
  ;;
esac
