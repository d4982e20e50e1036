"""Helpers for the tests that run the real Windows programs: under Wine on
Linux, directly on Windows. Every program, the system's reg, sc, net, cmd and
ping included, starts through run() or start(), which know the host.

Under Wine, the CTest fixture has made the prefix (WINEPREFIX) and holds a
persistent wineserver for it, so the Service Control Manager and the registry
keep their state between the commands of a test.
"""
import csv
import os
import shlex
import signal
import subprocess
import sys
import time
import unittest

ON_WINDOWS = sys.platform == "win32"
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


if ON_WINDOWS:
    # No loader: Windows runs its programs, 32-bit ones included, itself.
    DECISION = {"KORVANE_WINE_I386": "yes", "KORVANE_WINE_WHY": "Windows runs 32-bit programs itself",
                "KORVANE_WINE_LOADER": "", "KORVANE_WINE64_LOADER": ""}
else:
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

# Where Wine and Windows differ, a test takes what it expects from here.
# How long the SCM waits for a service's control handler to answer.
SCM_CONTROL_TIMEOUT_S = 30 if ON_WINDOWS else 10
# The wait hint of the start pending status that the SCM itself sets when it
# starts a service's process, before the service reports anything.
SCM_START_WAIT_HINT_MS = 2000 if ON_WINDOWS else 0
# The error of a stop sent to a service that is still starting and accepts no
# control: ERROR_SERVICE_CANNOT_ACCEPT_CTRL on Windows, ERROR_INVALID_SERVICE_CONTROL
# under Wine.
STOP_WHILE_STARTING_ERROR = "1061" if ON_WINDOWS else "1052"
# Wine's sc.exe has no "qc" (scprobe asks QueryServiceConfig on both hosts).
SC_HAS_QC = ON_WINDOWS
# Wine's SCM takes the failure actions but cannot give them back (sc qfailure,
# QueryServiceConfig2: 124) and refuses the failure actions flag (87).
SCM_KEEPS_FAILURE_ACTIONS = ON_WINDOWS
# The console event that interrupt() delivers (see there).
INTERRUPT_EVENT = "CTRL_BREAK_EVENT" if ON_WINDOWS else "CTRL_C_EVENT"


class _SkipListingResult(unittest.TextTestResult):
    """After the run, one line per skipped test or subtest, "SKIPPED: <test>:
    <reason>", which tools/check-not-run.sh checks against the skips expected
    on the host (unittest's own summary only counts them)."""
    def printErrors(self):
        super().printErrors()
        for test, reason in self.skipped:
            name = test.id().removeprefix("__main__.")
            self.stream.writeln("SKIPPED: %s: %s" % (name, " ".join(reason.split())))
        self.stream.flush()


# Every script ends in unittest.main(), whose runner takes its result class
# from here.
unittest.TextTestRunner.resultclass = _SkipListingResult


def skip_script(reason):
    """Ends a test script before it runs anything, as not run, with its reason
    on the output (CTest shows it, and tools/test.sh counts it as not run)."""
    print("NOT RUN: " + reason, flush=True)
    sys.exit(SKIP_EXIT_CODE)


def windows_path(path):
    """The Windows form of a path: under Wine, a Linux path through Wine's Z:
    drive, or its C: drive for a path in the prefix's drive_c; on Windows, the
    path itself, absolute."""
    full = os.path.abspath(path)
    if ON_WINDOWS:
        return full
    drive_c = os.path.join(os.path.abspath(os.environ.get("WINEPREFIX", os.path.expanduser("~/.wine"))), "drive_c")
    if full == drive_c or full.startswith(drive_c + "/"):
        return "C:" + (full[len(drive_c):] or "/").replace("/", "\\")
    return "Z:" + full.replace("/", "\\")


def wine_env(extra=None):
    """The environment of a program started from a test (the Wine settings
    matter under Wine only)."""
    env = dict(os.environ)
    if ON_WINDOWS:
        env.update(extra or {})
        return env
    env.setdefault("WINEDEBUG", "-all")
    env.setdefault("WINEDLLOVERRIDES", "mscoree,mshtml=")
    if not HOST_RUNS_I386:
        env["WINELOADER"] = LOADER
    if extra:
        env.update(extra)
    return env


def command(args, loader=None):
    """The command line that runs a Windows program (args[0]: the path to an
    .exe, or a system program such as "cmd", "reg", "sc", "net", "ping"):
    through Wine's loader (LOADER unless told) or, on Windows, directly."""
    args = list(args)
    if ON_WINDOWS:
        if os.path.isabs(args[0]):
            args[0] = os.path.normpath(args[0])
        return args
    return [loader or LOADER] + args


def run(args, cwd=None, timeout=120, env=None, input_bytes=None):
    """Runs a Windows program (see command) and waits for it.
    Returns the CompletedProcess with stdout and stderr as bytes."""
    return subprocess.run(command(args), cwd=cwd, env=wine_env(env),
                          input=input_bytes, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, timeout=timeout)


def start(args, cwd=None, env=None, loader=None, **popen):
    """Starts a Windows program (see command) without waiting; stdout and
    stderr are pipes. popen: further arguments of subprocess.Popen."""
    return subprocess.Popen(command(args, loader), cwd=cwd, env=wine_env(env),
                            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, **popen)


def start_interruptible(args, cwd=None, env=None):
    """Starts a 64-bit console program as start() does, so that interrupt()
    reaches it. Under Wine it goes through the 64-bit loader, so the Popen's
    process is the program's own (the 32-bit loader would hand a 64-bit
    program over to a new process); on Windows it starts in a process group
    of its own."""
    if ON_WINDOWS:
        # Console events reach only the processes of one console: a test
        # started without any makes one (this fails, harmlessly, when it has one).
        import ctypes
        ctypes.windll.kernel32.AllocConsole()
        return start(args, cwd, env, creationflags=subprocess.CREATE_NEW_PROCESS_GROUP)
    return start(args, cwd, env, loader=WINE64_LOADER)


def interrupt(process):
    """The console's interrupt for a program from start_interruptible; its
    console handlers receive INTERRUPT_EVENT. Under Wine: SIGINT to the
    program's Linux process, which arrives as CTRL_C_EVENT. On Windows:
    CTRL_BREAK_EVENT to the program's process group (CTRL_C_EVENT can only be
    sent to the whole console, this test and CTest included)."""
    process.send_signal(signal.CTRL_BREAK_EVENT if ON_WINDOWS else signal.SIGINT)


def process_ids(image_name):
    """Windows only: the ids of the running processes of that image name."""
    result = subprocess.run(["tasklist", "/FI", "IMAGENAME eq " + image_name, "/FO", "CSV", "/NH"],
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=60)
    rows = csv.reader(text(result.stdout).splitlines())
    return [int(row[1]) for row in rows if len(row) > 1 and row[0].lower() == image_name.lower()]


def kill_process(pid):
    """Ends a process at once (on Windows, os.kill with any signal but the
    console events terminates it)."""
    try:
        os.kill(pid, signal.SIGTERM if ON_WINDOWS else signal.SIGKILL)
    except OSError:  # already gone
        pass


def text(data):
    """Console bytes as text with Windows line ends made plain."""
    return data.decode("latin-1").replace("\r\n", "\n")


def reg(*args):
    """Runs reg.exe; returns (exit code, text output)."""
    result = run(["reg"] + list(args), timeout=60)
    return result.returncode, text(result.stdout)


def sc(*args):
    """Runs sc.exe; returns (exit code, text output)."""
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
