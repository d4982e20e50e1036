"""Helpers for the tests of Ostrad as a service under the real Service
Control Manager (Wine's or Windows'): running Ostrad's install and remove options, asking the SCM
through scprobe.exe, a probe that the service's own "ping localhost" finds,
and cleaning up the service and its process whatever happened."""
import os
import re
import subprocess
import time

import ostrad_fixture as fx
import winetest

SERVICE = "KorvaneQuorvexAgent"
DISPLAY = "Korvane Quorvex Agent"
SERVICE_KEY = r"HKLM\SYSTEM\CurrentControlSet\Services" + "\\" + SERVICE
APPLICATION_LOG_KEY = r"HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application"
EVENT_SOURCE_KEY = APPLICATION_LOG_KEY + "\\" + SERVICE
DESCRIPTION = "Monitors Korvane storage controllers and provides remote management capabilities."
STOPPED, START_PENDING, STOP_PENDING, RUNNING = 1, 2, 3, 4


def scprobe_exe():
    return os.path.join(os.path.dirname(os.environ["OSTRAD_EXE"]), "scprobe.exe")


def ostrad(*args, timeout=120):
    """Runs Ostrad.exe with args and waits; returns (status, console text, seconds).
    On Windows the text leaves out -i's warnings of folders that ordinary users
    may change: the checkout's folders may grant that (test_install checks them)."""
    begin = time.monotonic()
    result = winetest.run([os.environ["OSTRAD_EXE"]] + list(args), timeout=timeout)
    text = winetest.text(result.stdout)
    if winetest.ON_WINDOWS:
        text = re.sub(r"^Warning: .* may change .*\(see the README\)\.\n", "", text, flags=re.M)
    return result.returncode, text, time.monotonic() - begin


def _fields(line):
    return dict(word.split("=", 1) for word in line.split() if "=" in word)


def scprobe(*args, timeout=120):
    """Runs scprobe.exe; returns (status, list of its lines as dicts)."""
    result = winetest.run([scprobe_exe()] + list(args), timeout=timeout)
    lines = winetest.text(result.stdout).splitlines()
    return result.returncode, [dict(_fields(line), line=line) for line in lines if line.strip()]


def config():
    """The registration as QueryServiceConfig gives it (dict), or None."""
    code, lines = scprobe("qc", SERVICE)
    if code != 0:
        return None
    return dict(line["line"].split("=", 1) for line in lines)


def status():
    """(state, controls accepted, checkpoint, wait hint), or None when the
    service is not installed."""
    code, lines = scprobe("watch", SERVICE, "0", "1")
    for line in lines:
        if "state" in line:
            return tuple(int(line[key]) for key in ("state", "accepted", "checkpoint", "hint"))
    return None


def exit_codes():
    """(Win32 exit code, service-specific exit code) of the service, or None."""
    code, lines = scprobe("watch", SERVICE, "0", "1")
    for line in lines:
        if "state" in line:
            return int(line["exit"]), int(line["specific"])
    return None


def wait_for_state(state, timeout):
    """Waits until the service reports state; returns the last status seen."""
    return winetest.wait_until(lambda: (lambda s: s if s and s[0] == state else None)(status()), timeout,
                               interval=0.3) or status()


class Watcher:
    """scprobe watching the service's status from now until it is stopped:
    every change it saw, as (state, accepted, checkpoint, hint)."""

    def __init__(self, timeout_ms=90000):
        self.process = winetest.start([scprobe_exe(), "watch", SERVICE, str(STOPPED), str(timeout_ms)])

    def series(self, timeout=120):
        out, _ = self.process.communicate(timeout=timeout)
        result = []
        for line in winetest.text(out).splitlines():
            f = _fields(line)
            if "state" in f:
                result.append(tuple(int(f[key]) for key in ("state", "accepted", "checkpoint", "hint")))
        # A service already installed shows its stopped state before the start.
        if result and result[0][0] == STOPPED:
            result = result[1:]
        return result

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.communicate()


def is_subsequence(observed, expected):
    """True when observed lists items of expected, in expected's order."""
    remaining = iter(expected)
    return all(any(item == candidate for candidate in remaining) for item in observed)


def ostrad_processes():
    """The pids of the Ostrad.exe processes: on Windows, all of them; under
    Wine, the Linux pids of those of this test's Wine prefix."""
    if winetest.ON_WINDOWS:
        return winetest.process_ids("Ostrad.exe")
    prefix = "WINEPREFIX=" + os.environ["WINEPREFIX"]
    pids = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/cmdline" % entry, "rb") as cmdline:
                if b"ostrad.exe" not in cmdline.read().lower():
                    continue
            with open("/proc/%s/environ" % entry, "rb") as environ:
                if prefix.encode() not in environ.read().split(b"\0"):
                    continue
        except OSError:
            continue
        pids.append(int(entry))
    return pids


def no_ostrad_left(timeout=15):
    """True when every Ostrad.exe process of the prefix has ended in time."""
    return bool(winetest.wait_until(lambda: not ostrad_processes(), timeout, interval=0.3))


# The service's "ping localhost" is the system folder's ping.exe, which a test
# replaces under Wine with the stand-in (see ostrad_fixture.use_ping_standin).
def install_service_ping(marker_folder):
    """A probe that fails on its first run (leaving a marker in marker_folder)
    and succeeds afterwards: the start stays pending through one 10 s pause."""
    fx.use_ping_standin(status=1, once_marker=os.path.join(marker_folder, "probe-failed-once"))


def answer_service_ping():
    """Under Wine: the service's "ping localhost" answers at once, so that a
    start takes no more than the host's own time."""
    fx.use_ping_standin(status=0)


def remove_service_ping():
    fx.restore_system_ping()


def event_source():
    """The values of the service's event source key as {name: (type, data)},
    or None when the key is missing."""
    code, text = winetest.reg("query", EVENT_SOURCE_KEY)
    if code != 0:
        return None
    values = {}
    for line in text.splitlines():
        fields = line.split(None, 2)
        if len(fields) >= 2 and fields[1].startswith("REG_"):
            values[fields[0]] = (fields[1], fields[2] if len(fields) == 3 else "")
    return values


def event_source_keys():
    """The keys under the Application log named after the service."""
    _, text = winetest.reg("query", APPLICATION_LOG_KEY)
    return [line for line in text.splitlines() if line.lower().endswith("\\" + SERVICE.lower())]


def force_remove_service():
    """Leaves no service, no event source and no service process behind,
    whatever a test did."""
    remove_service_ping()
    winetest.reg("delete", EVENT_SOURCE_KEY, "/f")
    if status() is not None:
        winetest.run(["sc", "stop", SERVICE], timeout=60)
        wait_for_state(STOPPED, 20)
        winetest.run(["sc", "delete", SERVICE], timeout=60)
    for pid in ostrad_processes():
        winetest.kill_process(pid)
    winetest.wait_until(lambda: status() is None, 10, interval=0.3)


# The fixture's script that starts the prefix's Wine session.
WINE_PREFIX_SCRIPT = os.path.join(os.path.dirname(winetest.WINERUN), "wine-prefix.sh")


def restart_wine_session(stderr_path, winedebug):
    """Restarts the prefix's Wine session (its persistent wineserver and
    services.exe; the registry, and so every registration, stays) so that
    services.exe, and every service it starts, write Wine's debug output for
    winedebug to the file stderr_path. services.exe takes its standard error
    and WINEDEBUG from the first program of the session."""
    env = winetest.wine_env({"WINEDEBUG": winedebug})
    quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)
    for server_option in ("-k", "-w", "-p"):
        subprocess.run([winetest.WINERUN, "--server", server_option], **quiet)
    with open(stderr_path, "wb") as log:
        subprocess.run([winetest.WINERUN, "cmd", "/c", "exit", "0"], stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=log, env=env, timeout=120)


def restore_wine_session():
    """Restarts the session as the test fixture starts it, for the tests that follow."""
    subprocess.run([WINE_PREFIX_SCRIPT, "start", os.environ["WINEPREFIX"]], stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300, check=True)


class ServiceTestCase:
    """Mixin: a scratch folder with a sample installation registered in App
    Paths, and a clean SCM before and after each test."""

    def make_installation(self, name, scenario=None, **tunables):
        self.work = fx.work_folder(name)
        self.install = fx.make_installation(os.path.join(self.work, "Pelmora"), scenario, **tunables)
        fx.register_installation(self.install)
        return self.install

    def setUp(self):
        force_remove_service()

    def tearDown(self):
        force_remove_service()
        fx.unregister_installation()

    def journal(self):
        return fx.read_journal(self.install)

    def assert_no_process_left(self):
        self.assertTrue(no_ostrad_left(), "Ostrad processes left: %r" % ostrad_processes())
