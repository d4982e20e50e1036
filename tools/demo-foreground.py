#!/usr/bin/env python3
"""Part of the main job (tools/demo.sh): "Ostrad -d" hosting the stand-in agent
in a sample installation registered under App Paths, then Ctrl+C.

  tools/demo-foreground.py SCRATCH_FOLDER
Needs WINEPREFIX (with a running persistent wineserver), OSTRAD_EXE and
FAKE_JVM_DLL in the environment, and tests/windows on PYTHONPATH.
"""
import os
import sys
import time

import ostrad_fixture as fx
import winetest


def step(text):
    print("\n--- " + text, flush=True)


def show_journal(install, names):
    for event in fx.read_journal(install):
        if event["event"] in names:
            fields = " ".join("%s=%s" % (k, v) for k, v in event.items() if k not in ("ms", "pid", "event"))
            print("    journal: %-16s %s" % (event["event"], fields))


def main():
    scratch = sys.argv[1]
    os.makedirs(scratch, exist_ok=True)
    install = fx.make_installation(os.path.join(scratch, "Pelmora"))
    fx.register_installation(install)
    try:
        step("The sample installation, registered under App Paths")
        print(winetest.reg("query", fx.APP_PATHS_KEY)[1].strip())

        step("Ostrad -d: waits for 'ping localhost', creates the JVM and runs the agent's main")
        started = time.monotonic()
        host = fx.start_debug_host(scratch)
        if fx.wait_for_event(install, "main_entered", 60) is None:
            host.kill()
            raise SystemExit("the agent did not start")
        print("    agent running after %.1f s (most of it the ping)" % (time.monotonic() - started))
        show_journal(install, ("create_vm", "option", "call_static_void", "main_entered"))

        step("Ctrl+C")
        fx.send_ctrl_c(host)
        out, err = host.communicate(timeout=30)
        print("    console output (the ping's, then the host's):")
        for line in winetest.text(out + err).splitlines():
            print("    | " + line)
        print("    exit status: %d" % host.returncode)
        show_journal(install, ("cleanup_entered", "cleanup_returned", "main_returned"))
    finally:
        fx.unregister_installation()


if __name__ == "__main__":
    main()
