#!/usr/bin/env python3
"""Times the foreground host under Wine with the stand-in JVM.

  tools/bench-foreground.py [runs]     (after tools/build.sh windows-x64)

For each run of "Ostrad -d" it measures, from the stand-in JVM's journal
(timestamps in ms, same clock as this script):
  - start: from the process start to the agent's main entered, and the part of
    it that is the host's own after the loopback probe: from the moment the
    host loads jvm.dll (just after the probe and the registry lookup) to main
    entered, less the stand-in's own time inside JNI_CreateJavaVM;
  - stop: from Ctrl+C (SIGINT) to cleanup entered, and from cleanup returned
    to the process's exit as seen by this script.
The probe uses the real "ping localhost"; its duration is timed on its own.
"""
import os
import statistics
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(ROOT, "build", "windows-x64")
os.environ.setdefault("OSTRAD_EXE", os.path.join(BUILD, "bin", "Ostrad.exe"))
os.environ.setdefault("FAKE_JVM_DLL", os.path.join(BUILD, "fake_jvm", "jvm.dll"))
os.environ.setdefault("NOENTRY_JVM_DLL", os.path.join(BUILD, "fake_jvm", "jvm_noentry.dll"))
os.environ.setdefault("OSTRAD_TEST_WORK", os.path.join(ROOT, "build", "bench", "work"))
os.environ["WINEPREFIX"] = os.path.join(ROOT, "build", "bench", "wineprefix")
os.environ["WINEDEBUG"] = "-all"
sys.path.insert(0, os.path.join(ROOT, "tests", "windows"))

import ostrad_fixture as fx  # noqa: E402
import winetest  # noqa: E402


def one(event_list, name):
    found = fx.events(event_list, name)
    return found[0]["ms"] if found else None


def run_once(index):
    work = fx.work_folder("run%d" % index)
    install = fx.make_installation(os.path.join(work, "Pelmora"))
    fx.register_installation(install)
    started = time.time() * 1000
    host = fx.start_debug_host(work)
    if fx.wait_for_event(install, "main_entered", 60) is None:
        host.kill()
        raise SystemExit("the agent's main was never entered")
    time.sleep(0.3)
    ctrl_c = time.time() * 1000
    fx.send_ctrl_c(host)
    host.communicate(timeout=30)
    ended = time.time() * 1000
    journal = fx.read_journal(install)
    return {
        "start to main": one(journal, "main_entered") - started,
        "host after probe": (one(journal, "main_entered") - one(journal, "dll_loaded"))
                            - (one(journal, "create_vm_result") - one(journal, "create_vm")),
        "ctrl+c to cleanup": one(journal, "cleanup_entered") - ctrl_c,
        "cleanup to exit": ended - one(journal, "cleanup_returned"),
    }


def time_probe():
    started = time.monotonic()
    winetest.run(["cmd", "/c", "ping localhost"], timeout=60)
    return (time.monotonic() - started) * 1000


def main():
    runs = int(sys.argv[1]) if len(sys.argv) > 1 else 5
    subprocess.run([os.path.join(ROOT, "tools", "wine-prefix.sh"), "start", os.environ["WINEPREFIX"]], check=True)
    try:
        probe = [time_probe() for _ in range(3)]
        results = [run_once(i) for i in range(runs)]
    finally:
        fx.unregister_installation()
        subprocess.run([os.path.join(ROOT, "tools", "wine-prefix.sh"), "stop", os.environ["WINEPREFIX"]])
    print("runs: %d (median, min, max in ms)" % runs)
    print("  %-20s %9.1f" % ("'ping localhost'", statistics.median(probe)))
    for key in results[0]:
        values = [r[key] for r in results]
        print("  %-20s %9.1f %9.1f %9.1f" % (key, statistics.median(values), min(values), max(values)))


if __name__ == "__main__":
    main()
