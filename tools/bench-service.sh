#!/usr/bin/env bash
# bench-service.sh SCRATCH_FOLDER [RUNS]
# Times Ostrad under Wine's Service Control Manager with the stand-in JVM:
#   start: StartService until SERVICE_RUNNING is seen, less the loopback probe
#          (the time between the first start-pending report and the second);
#   stop:  ControlService(stop) until SERVICE_STOPPED is seen, less the agent's
#          cleanup (from the stand-in JVM's journal).
# scprobe (beside OSTRAD_EXE) polls QueryServiceStatus every millisecond and
# stamps its lines on the journal's clock. Needs WINEPREFIX (persistent
# wineserver), OSTRAD_EXE and FAKE_JVM_DLL.
set -euo pipefail
winerun=$(cd "$(dirname "$0")" && pwd)/winerun  # the loader this host can run
scratch=$1
runs=${2:-5}
: "${WINEPREFIX:?}" "${OSTRAD_EXE:?}" "${FAKE_JVM_DLL:?}"
export WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
service=KorvaneQuorvexAgent
app_paths='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\Pelmora'
scprobe=$(dirname "$OSTRAD_EXE")/scprobe.exe
install=$scratch/Pelmora
journal=$install/jre/bin/server/fake_jvm.log

rm -rf "$install"
mkdir -p "$install/jre/bin/server"
cp "$FAKE_JVM_DLL" "$install/jre/bin/server/jvm.dll"
printf 'scenario=blocking\ncleanup_ms=500\n' > "$install/jre/bin/server/fake_jvm.cfg"
"$winerun" reg add "$app_paths" /v Path /d "Z:$(realpath "$install" | tr / '\\')" /f >/dev/null
cleanup() {
  "$winerun" sc stop "$service" >/dev/null 2>&1 || true
  sleep 2
  "$winerun" sc delete "$service" >/dev/null 2>&1 || true
  "$winerun" reg delete "$app_paths" /f >/dev/null 2>&1 || true
}
trap cleanup EXIT

# Install (which starts it), then stop, so every timed start is a clean one.
"$winerun" "$OSTRAD_EXE" -i | tr -d '\r'
for _ in $(seq 120); do "$winerun" sc query "$service" | grep -q RUNNING && break; sleep 0.5; done
"$winerun" net stop "$service" >/dev/null

for run in $(seq "$runs"); do
  : > "$journal"
  "$winerun" "$scprobe" bench "$service" 500 | tr -d '\r' > "$scratch/bench-$run.txt"
  sleep 1  # the journal's last lines come from the ending process
  cp "$journal" "$scratch/journal-$run.log"
done

python3 - "$scratch" "$runs" <<'PY'
import statistics, sys
scratch, runs = sys.argv[1], int(sys.argv[2])

def fields(line):
    return dict(w.split("=", 1) for w in line.split() if "=" in w)

rows = []
for run in range(1, runs + 1):
    lines = [fields(l) for l in open("%s/bench-%d.txt" % (scratch, run))]
    t = lambda pred: next(float(f["t"]) for f in lines if pred(f))
    raw = open("%s/bench-%d.txt" % (scratch, run)).read().splitlines()
    stamp = lambda word: next(float(fields(l)["t"]) for l in raw if word in l.split())
    start_sent, stop_sent = stamp("start_sent"), stamp("control_sent")
    first_pending = t(lambda f: f.get("state") == "2" and f.get("checkpoint") == "1")
    probe_done = t(lambda f: f.get("state") == "2" and f.get("checkpoint") == "2")
    running = t(lambda f: f.get("state") == "4")
    stopped = t(lambda f: f.get("state") == "1" and float(f["t"]) > stop_sent)
    journal = [l.split() for l in open("%s/journal-%d.log" % (scratch, run), encoding="latin-1")]
    jt = lambda event: next(float(w[0]) for w in journal if len(w) > 3 and w[3] == event)
    cleanup = jt("cleanup_returned") - jt("cleanup_entered")
    rows.append({
        "process start to first report": first_pending - start_sent,
        "probe (ping localhost)": probe_done - first_pending,
        "probe end to running": running - probe_done,
        "start less probe": (running - start_sent) - (probe_done - first_pending),
        "stop to stopped": stopped - stop_sent,
        "cleanup": cleanup,
        "stop less cleanup": (stopped - stop_sent) - cleanup,
    })

print("%d runs, milliseconds (median, min, max)" % runs)
for key in rows[0]:
    values = [r[key] for r in rows]
    print("  %-30s %8.1f %8.1f %8.1f" % (key, statistics.median(values), min(values), max(values)))
PY
