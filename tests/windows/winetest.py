"""Helpers for the tests that run the real Windows programs under Wine.

The CTest fixture has made the prefix (WINEPREFIX) and holds a persistent
wineserver for it, so the Service Control Manager and the registry keep their
state between the commands of a test.
"""
import os
import subprocess
import time

PREFIX = os.environ.get("WINEPREFIX", "")


def windows_path(path):
    """The Windows form of a Linux path, through Wine's Z: drive."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def wine_env(extra=None):
    env = dict(os.environ)
    env.setdefault("WINEDEBUG", "-all")
    env.setdefault("WINEDLLOVERRIDES", "mscoree,mshtml=")
    if extra:
        env.update(extra)
    return env


def run(args, cwd=None, timeout=120, env=None, input_bytes=None):
    """Runs a Windows program (args[0]: a Linux path to an .exe, or a Wine
    built-in such as "cmd", "reg", "sc", "net") and waits for it.
    Returns the CompletedProcess with stdout and stderr as bytes."""
    return subprocess.run(["wine"] + list(args), cwd=cwd, env=wine_env(env),
                          input=input_bytes, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, timeout=timeout)


def start(args, cwd=None, env=None):
    """Starts a Windows program without waiting; stdout and stderr are pipes."""
    return subprocess.Popen(["wine"] + list(args), cwd=cwd, env=wine_env(env),
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
