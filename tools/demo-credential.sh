#!/usr/bin/env bash
# Demo of the credential tool: Kestrune.exe changes the credentials of a
# sample product folder under Wine and restarts its two services.
#
#   tools/demo-credential.sh SCRATCH_FOLDER
#
# Environment:
#   WINEPREFIX           a Wine prefix whose persistent wineserver is running
#   KESTRUNE_EXE         Kestrune.exe (windows-x86 build: bin/Kestrune.exe)
#   STANDIN_SERVICE_EXE  the stand-in service program (bin/standin_service.exe),
#                        registered here as veltrixWebServer and
#                        veltrixQuorvexAgent; it records its starts and stops
#   STANDIN_ENCRYPT_BAT  optional: the stand-in encrypt.bat (default: the one
#                        in tests/windows/credential_tool)
set -euo pipefail
winerun=$(cd "$(dirname "$0")" && pwd)/winerun  # the loader this host can run
root=$(cd "$(dirname "$0")/.." && pwd)
[ $# -eq 1 ] || { echo "usage: $0 SCRATCH_FOLDER" >&2; exit 2; }
: "${WINEPREFIX:?set WINEPREFIX to a running prefix}" "${KESTRUNE_EXE:?set KESTRUNE_EXE}" \
  "${STANDIN_SERVICE_EXE:?set STANDIN_SERVICE_EXE}"
encrypt_bat=${STANDIN_ENCRYPT_BAT:-$root/tests/windows/credential_tool/encrypt.bat}
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

scratch=$(mkdir -p "$1" && cd "$1" && pwd)
product=$scratch/product
journal=$scratch/services-journal.txt
windows_journal="Z:${journal//\//\\}"
services=(veltrixWebServer veltrixQuorvexAgent)

step() { printf '\n=== %s\n' "$*"; }
show() { # FILE: its text with the CR LF line ends shown as plain lines
  sed 's/\r$//' "$1" | sed 's/^/    /'
}
remove_services() {
  for name in "${services[@]}"; do
    "$winerun" "$STANDIN_SERVICE_EXE" remove "$name" >/dev/null 2>&1 || true
  done
}
trap remove_services EXIT

step "1. A sample product folder: $product"
rm -rf "$product"
mkdir -p "$product/config"
cp "$encrypt_bat" "$product/encrypt.bat"
printf '%s\r\n' "# Management server settings" "server.port=8443" "userid=admin" \
  "password=ENC:old-password" "keystore.password=changeit" "#userid=example" > "$product/config/server.properties"
(cd "$product" && find . -type f | sort | sed 's/^/    /')

step "2. The stand-in services veltrixWebServer and veltrixQuorvexAgent, registered and started"
remove_services
: > "$journal"
for name in "${services[@]}"; do
  "$winerun" "$STANDIN_SERVICE_EXE" install "$name" "$windows_journal"
  "$winerun" net start "$name" | tr -d '\r' | sed 's/^/    /'
done
: > "$journal"  # from here on, only what Kestrune does

step "3. The configuration before: config\\server.properties"
show "$product/config/server.properties"

step "4. Kestrune.exe without the right arguments prints its usage and changes nothing"
(cd "$product" && "$winerun" "$KESTRUNE_EXE" operator) | tr -d '\r' | sed 's/^/    /'

step "5. Kestrune.exe operator 'N3w Secret&1' (the & reaches encrypt.bat, cmd.exe runs nothing else)"
(cd "$product" && "$winerun" "$KESTRUNE_EXE" operator 'N3w Secret&1') | tr -d '\r' | sed 's/^/    /'

step "6. The configuration after (only the userid and password keys changed)"
show "$product/config/server.properties"
echo "    (password.txt left behind: $( [ -e "$product/password.txt" ] && echo yes || echo no );" \
     "temporary file left behind: $( [ -e "$product/config/server.properties.tmp" ] && echo yes || echo no ))"

step "7. result.txt: the output of the four net commands"
show "$product/result.txt"

step "8. What the services recorded, in order"
show "$journal"

step "9. Removing the stand-in services"
remove_services
trap - EXIT
for name in "${services[@]}"; do
  if "$winerun" sc query "$name" 2>/dev/null | grep -q STATE; then echo "    $name: still registered"; else echo "    $name: removed"; fi
done
