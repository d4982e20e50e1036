#!/usr/bin/env bash
# stress-service.sh [--cycles N] [--ostrad EXE]
# Runs Ostrad as a service under Wine's Service Control Manager, with the
# stand-in JVM, through N cycles (default 200) of four kinds in turn:
#   stop      install if needed (Ostrad -i starts it) or start; stop by the SCM
#   returns   start; the agent's main returns by itself (scenario returns)
#   given_up  start; the JVM refuses to be created, the start is given up
#   removed   start that stays pending (the service's ping never answers);
#             Ostrad -r removes it meanwhile
# each while "scprobe flood" sends interrogate controls back to back from a
# second process. The flood holds back from the moment the service runs until
# a stop control has reached it, and no longer: Wine's SCM kills a service that
# a control finds running after a stop was sent (see the README). After each
# cycle the SCM must show the service stopped (or absent) and no Ostrad.exe
# process of the prefix may be left, within 30 s of the stop (the stop control
# reaching the service, main's return, the JVM's refusal).
# Last line: "N cycles, H hangs, L left running, max stop S ms", where a hang
# is a service the SCM does not show stopped in time and left running a
# process still there when it does. Hangs and processes left are counted
# first, whatever else the cycle saw; of the cycles that did neither, those
# that Wine's SCM ended by killing the process ("killed_while_running" in
# scprobe.cpp) are counted apart, not as clean stops. Builds nothing: run
# tools/build.sh windows-x64 first.
# Uses a Wine prefix of its own, build/stress/wineprefix, kept between runs.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
cycles=200
ostrad=$root/build/windows-x64/bin/Ostrad.exe
while [ $# -gt 0 ]; do
  case $1 in
  --cycles) cycles=$2; shift 2 ;;
  --ostrad) ostrad=$(realpath "$2"); shift 2 ;;
  *) echo "usage: $0 [--cycles N] [--ostrad EXE]" >&2; exit 2 ;;
  esac
done

work=$root/build/stress
mkdir -p "$work"
export WINEPREFIX=$work/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export OSTRAD_EXE=$ostrad FAKE_JVM_DLL=$root/build/windows-x64/fake_jvm/jvm.dll
export OSTRAD_TEST_WORK=$work/work PYTHONPATH=$root/tests/windows:$root/tests/windows/service_host
export PYTHONDONTWRITEBYTECODE=1
# The scprobe.exe beside Ostrad.exe is the flood: the one just built.
built_scprobe=$root/build/windows-x64/bin/scprobe.exe
cmp -s "$built_scprobe" "$(dirname "$ostrad")/scprobe.exe" || cp "$built_scprobe" "$(dirname "$ostrad")/"
eval "$(tools/winerun --describe)"
tools/wine-prefix.sh start "$WINEPREFIX" >/dev/null
trap 'tools/wine-prefix.sh stop "$WINEPREFIX"' EXIT

python3 - "$cycles" "$root" <<'PY'
import os
import subprocess
import sys
import time

import ostrad_fixture as fx
import service_helpers as sh
import winetest

cycles, root = int(sys.argv[1]), sys.argv[2]
KINDS = ("stop", "returns", "given_up", "removed")
SCENARIOS = {"stop": dict(scenario="blocking", cleanup_ms=300), "returns": dict(scenario="returns", main_ms=1000),
             "given_up": dict(scenario="refuse"), "removed": dict(scenario="blocking")}
BOUND_S = 30
work = fx.work_folder("stress")
install = os.path.join(work, "Pelmora")
HOLD = os.path.join(work, "hold")


def flood_events(path):
    """(time in s, word, value) of each line of the flood's log."""
    events = []
    with open(path, encoding="latin-1") as log:
        for line in log:
            fields = dict(w.split("=", 1) for w in line.split() if "=" in w)
            if "t" not in fields:
                continue
            t = float(fields["t"]) / 1000
            if "state" in fields:
                events.append((t, "state", int(fields["state"])))
            elif "killed_while_running" in line.split():
                events.append((t, "killed", 0))
            elif "held" in line.split():
                events.append((t, "held", 0))
    return events


def scm_settled_at(events, since):
    """When the SCM last turned to stopped or absent after since (None while it
    shows another state)."""
    states = [e for e in events if e[1] == "state"]
    if not states or states[-1][2] not in (0, sh.STOPPED):
        return None
    settled = states[-1][0]
    for t, _, state in reversed(states):
        if state not in (0, sh.STOPPED):
            break
        settled = t
    return max(settled, since)


def wait_for_state(flood_log, wanted, timeout):
    """Waits until the flood saw one of the wanted states; True when it did."""
    return bool(winetest.wait_until(
        lambda: any(e[1] == "state" and e[2] in wanted for e in flood_events(flood_log)), timeout, interval=0.05))


def stop_arrived(otherwise):
    """When the stop control reached the service: its cleanup began."""
    entered = fx.events(fx.read_journal(install), "cleanup_entered")
    return entered[0]["ms"] / 1000 if entered else otherwise


def hold_flood(flood_log):
    """Holds the flood back until release_flood (see the README: Wine's SCM
    kills a service that a control finds running after a stop was sent)."""
    since = time.time()
    open(HOLD, "w").close()
    winetest.wait_until(lambda: any(e[1] == "held" and e[0] >= since for e in flood_events(flood_log)), 10,
                        interval=0.01)


def release_flood():
    os.remove(HOLD)


def start_quietly(args, out=subprocess.DEVNULL):
    """Starts a Windows program without waiting; its output goes to out. The
    64-bit loader keeps the program in the process made here, so kill() ends it."""
    return subprocess.Popen(winetest.command(args, winetest.WINE64_LOADER or None), env=winetest.wine_env(),
                            stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.DEVNULL)


def restart_scm():
    """After a hang: Wine's SCM keeps the state it was last told. Start the
    prefix's Wine again, so that it reads the services afresh."""
    for pid in sh.ostrad_processes():
        winetest.kill_process(pid)
    subprocess.run([os.path.join(root, "tools", "wine-prefix.sh"), "stop", os.environ["WINEPREFIX"]])
    subprocess.run([os.path.join(root, "tools", "wine-prefix.sh"), "start", os.environ["WINEPREFIX"]],
                   stdout=subprocess.DEVNULL)
    sh.force_remove_service()  # it starts automatically with the SCM; the next cycle installs it


def run_cycle(number, kind):
    """Returns (outcome, stop ms): outcome is ok, hang, left or wine."""
    fx.make_installation(install, **SCENARIOS[kind])
    fx.register_installation(install)
    if kind == "removed":
        sh.install_service_ping(fx.work_folder("stress-ping"))  # one pause of 10 s: Ostrad -r waits it out
    else:
        sh.answer_service_ping()
    flood_log = os.path.join(work, "flood-%d.log" % number)
    with open(flood_log, "w") as out:
        flood = start_quietly([sh.scprobe_exe(), "flood", sh.SERVICE, str(BOUND_S + 60), winetest.windows_path(HOLD)],
                              out)
    try:
        if not winetest.wait_until(lambda: flood_events(flood_log), 30, interval=0.05):
            raise RuntimeError("the flood did not start")
        installed = flood_events(flood_log)[-1][2] != 0
        started = time.time()
        if installed:
            starter = start_quietly(["sc", "start", sh.SERVICE])
        else:
            starter = start_quietly([fx.ostrad_exe(), "-i"])
        trigger = started
        if kind == "stop":
            if wait_for_state(flood_log, (sh.RUNNING,), BOUND_S):
                hold_flood(flood_log)
                trigger = time.time()
                code, lines = sh.scprobe("control", sh.SERVICE, "1")
                release_flood()
                if any("control_failed" in line["line"] for line in lines):
                    print("cycle %d: the stop control failed: %s" % (number, lines[-1]["line"]))
                trigger = stop_arrived(trigger)
        elif kind == "returns":
            returned = fx.wait_for_event(install, "main_returned", BOUND_S)
            trigger = returned["ms"] / 1000 if returned else time.time()
        elif kind == "given_up":
            refused = fx.wait_for_event(install, "create_vm_result", BOUND_S)
            trigger = refused["ms"] / 1000 if refused else time.time()
        elif kind == "removed":
            wait_for_state(flood_log, (sh.START_PENDING,), BOUND_S)
            remover = start_quietly([fx.ostrad_exe(), "-r"])
            # Ostrad -r waits for the start to end: the stop begins with running.
            wait_for_state(flood_log, (sh.RUNNING,), BOUND_S)
            hold_flood(flood_log)
            trigger = time.time()
            winetest.wait_until(lambda: (sh.status() or (sh.STOPPED,))[0] != sh.RUNNING, BOUND_S, interval=0.05)
            release_flood()
            remover.wait(timeout=BOUND_S + 30)
            trigger = stop_arrived(trigger)
        deadline = trigger + BOUND_S
        settled = gone = None
        while time.time() < deadline and (settled is None or gone is None):
            settled = scm_settled_at(flood_events(flood_log), trigger)
            if gone is None and not sh.ostrad_processes():
                gone = time.time()
            elif gone is not None and sh.ostrad_processes():
                gone = None
            time.sleep(0.02)
        try:
            starter.wait(timeout=BOUND_S)
        except subprocess.TimeoutExpired:
            starter.kill()
            starter.wait()
    finally:
        flood.kill()
        flood.wait()
    killed = any(e[1] == "killed" for e in flood_events(flood_log))
    outcome = "hang" if settled is None else "left" if gone is None else "wine" if killed else "ok"
    if outcome == "ok":
        return outcome, (max(settled, gone) - trigger) * 1000
    journal = [e["event"] for e in fx.read_journal(install)]
    print("cycle %d (%s): %s; SCM %s, process %s; journal: %s" % (
        number, kind, outcome, "stopped" if settled else "not stopped", "ended" if gone else "left",
        " ".join(journal[-6:])))
    if outcome != "wine":
        restart_scm()
    return outcome, None


counts = {"ok": 0, "hang": 0, "left": 0, "wine": 0}
max_stop = dict.fromkeys(KINDS, 0.0)
try:
    for number in range(cycles):
        kind = KINDS[number % len(KINDS)]
        outcome, stop_ms = run_cycle(number, kind)
        counts[outcome] += 1
        if stop_ms is not None:
            max_stop[kind] = max(max_stop[kind], stop_ms)
finally:
    sh.force_remove_service()
    fx.unregister_installation()
if counts["wine"]:
    print("%d cycles (neither hung nor left running) ended by Wine's SCM killing the process after a stop control"
          % counts["wine"])
print("max stop by kind: " + ", ".join("%s %d ms" % (kind, max_stop[kind]) for kind in KINDS))
print("%d cycles, %d hangs, %d left running, max stop %d ms" % (
    cycles, counts["hang"], counts["left"], max(max_stop.values())))
sys.exit(0 if counts["hang"] == 0 and counts["left"] == 0 else 1)
PY
