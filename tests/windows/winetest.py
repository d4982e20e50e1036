"""Helpers for the tests that run the real Windows programs under Wine.

The CTest fixture has made the prefix (WINEPREFIX) and holds a persistent
wineserver for it, so the Service Control Manager and the registry keep their
state between the commands of a test.
"""
import os
import shlex
import subprocess
import sys
import time

PREFIX = os.environ.get("WINEPREFIX", "")
WINERUN = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "winerun")


def _loader_decision():
    """How Wine is started on this host, as tools/winerun decides it (the
    KORVANE_WINE_* variables: I386, WHY, LOADER, WINE64 LOADER)."""
    output = subprocess.run([WINERUN, "--describe"], stdout=subprocess.PIPE, check=True,
                            env=dict(os.environ)).stdout.decode()
    decision = {}
    for line in output.splitlines():
        name, _, value = shlex.split(line)[1].partition("=")
        decision[name] = value
    return decision


DECISION = _loader_decision()
os.environ.update(DECISION)  # the programs started from here do not probe again
HOST_RUNS_I386 = DECISION["KORVANE_WINE_I386"] == "yes"
WHY = DECISION["KORVANE_WINE_WHY"]
LOADER = DECISION["KORVANE_WINE_LOADER"]
# A 64-bit program started by this loader runs in the Linux process that the
# Popen made (the 32-bit loader would hand it to a new one), so a signal sent
# to that process reaches the program.
WINE64_LOADER = DECISION["KORVANE_WINE64_LOADER"]
SKIP_EXIT_CODE = 77  # CTest reports the script as not run (SKIP_RETURN_CODE)


def skip_script(reason):
    """Ends a test script before it runs anything, as not run, with its reason
    on the output (CTest shows it, and tools/test.sh counts it as not run)."""
    print("NOT RUN: " + reason, flush=True)
    sys.exit(SKIP_EXIT_CODE)


def windows_path(path):
    """The Windows form of a Linux path, through Wine's Z: drive."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def wine_env(extra=None):
    env = dict(os.environ)
    env.setdefault("WINEDEBUG", "-all")
    env.setdefault("WINEDLLOVERRIDES", "mscoree,mshtml=")
    if not HOST_RUNS_I386:
        env["WINELOADER"] = LOADER
    if extra:
        env.update(extra)
    return env


def run(args, cwd=None, timeout=120, env=None, input_bytes=None):
    """Runs a Windows program (args[0]: a Linux path to an .exe, or a Wine
    built-in such as "cmd", "reg", "sc", "net") and waits for it.
    Returns the CompletedProcess with stdout and stderr as bytes."""
    return subprocess.run([LOADER] + list(args), cwd=cwd, env=wine_env(env),
                          input=input_bytes, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, timeout=timeout)


def start(args, cwd=None, env=None):
    """Starts a Windows program without waiting; stdout and stderr are pipes."""
    return subprocess.Popen([LOADER] + list(args), cwd=cwd, env=wine_env(env),
                            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE)


def text(data):
    """Console bytes as text with Windows line ends made plain."""
    return data.decode("latin-1").replace("\r\n", "\n")


def reg(*args):
    """Runs Wine's reg.exe; returns (exit code, text output)."""
    result = run(["reg"] + list(args), timeout=60)
    return result.returncode, text(result.stdout)


def sc(*args):
    """Runs Wine's sc.exe; returns (exit code, text output)."""
    result = run(["sc"] + list(args), timeout=60)
    return result.returncode, text(result.stdout)


def wait_until(predicate, timeout, interval=0.2):
    """Polls predicate until it returns a true value or timeout seconds pass;
    returns its last value."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value or time.monotonic() >= deadline:
            return value
        time.sleep(interval)
