#!/usr/bin/env bash
# demo-service.sh SCRATCH_FOLDER
# Shows Ostrad as a Windows service under Wine's Service Control Manager with
# the stand-in JVM: installed with its registration and description, running
# with the stand-in agent's journal, stopped (the agent's cleanup called) and
# removed. Needs WINEPREFIX (with a persistent wineserver), OSTRAD_EXE and
# FAKE_JVM_DLL.
set -euo pipefail
winerun=$(cd "$(dirname "$0")" && pwd)/winerun  # the loader this host can run
scratch=$1
: "${WINEPREFIX:?}" "${OSTRAD_EXE:?}" "${FAKE_JVM_DLL:?}"
export WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
service=KorvaneQuorvexAgent
app_paths='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\Pelmora'
scprobe=$(dirname "$OSTRAD_EXE")/scprobe.exe
install=$scratch/Pelmora
journal=$install/jre/bin/server/fake_jvm.log

heading() { printf '\n=== %s\n' "$*"; }
winpath() { printf 'Z:%s' "$(realpath "$1" | tr / '\\')"; }
crlf() { tr -d '\r'; }
state() { "$winerun" sc query "$service" | crlf | sed -n 's/.*STATE *: *[0-9]* *//p'; }
wait_state() { # STATE SECONDS
  for _ in $(seq $(($2 * 4))); do [ "$(state)" = "$1" ] && return 0; sleep 0.25; done
  echo "service did not reach $1 (now: $(state))"; return 1
}
show_journal() { # EVENT-REGEX
  grep -E " ($1)( |$)" "$journal" | cut -d' ' -f3- | sed 's/^/  journal: /' || true
}

heading "Sample installation: $install (stand-in jvm.dll, agent blocks until cleanup, cleanup takes 1 s)"
rm -rf "$install"
mkdir -p "$install/jre/bin/server"
cp "$FAKE_JVM_DLL" "$install/jre/bin/server/jvm.dll"
# output_bytes: the stand-in agent prints its one line, as System.out would.
printf 'scenario=blocking\ncleanup_ms=1000\noutput_bytes=23\n' > "$install/jre/bin/server/fake_jvm.cfg"
for jar in ostrel.jar Brantic.jar; do printf 'PK\005\006%018d' 0 | tr 0 '\0' > "$install/$jar"; done
"$winerun" reg add "$app_paths" /v Path /d "$(winpath "$install")" /f | crlf

heading "Ostrad -i: install and start the service"
"$winerun" "$OSTRAD_EXE" -i | crlf

heading "Registration (QueryServiceConfig) and the registry key"
[ -f "$scprobe" ] && "$winerun" "$scprobe" qc "$service" | crlf | grep -v '^description='
"$winerun" reg query "HKLM\\SYSTEM\\CurrentControlSet\\Services\\$service" | crlf

heading "Running under the SCM (sc query) with the stand-in agent's journal"
wait_state RUNNING 60
"$winerun" sc query "$service" | crlf
show_journal 'create_vm|create_vm_result|main_entered'

heading "net stop: the agent's cleanup is called"
"$winerun" net stop "$service" | crlf
wait_state STOPPED 30
"$winerun" sc query "$service" | crlf | grep STATE
show_journal 'cleanup_entered|cleanup_returned|main_returned'

heading "The agent's output in service mode: logs\\agent-output.log beside Ostrad.exe (its last lines)"
tail -n 2 "$(dirname "$OSTRAD_EXE")/logs/agent-output.log" | crlf | sed 's/^/    /'

heading "Ostrad -r: remove the service"
"$winerun" "$OSTRAD_EXE" -r | crlf
"$winerun" sc query "$service" | crlf | grep -q STATE && echo "service still registered" || echo "service no longer registered"
"$winerun" reg delete "$app_paths" /f | crlf
