"""Product folders and stand-in services for the Kestrune Wine tests.

Environment (set by CMake): KESTRUNE_BUILD ("i386": the shipped program,
"x86-64": its test build), KESTRUNE_EXE, STANDIN_SERVICE_EXE,
STANDIN_ENCRYPT_BAT, KESTRUNE_TEST_WORK.

A script that imports this module runs only the build this host can run, and
says which one and why; the other build's scripts end as not run.
"""
import os
import shutil
import stat
import subprocess
import sys

import winetest

KESTRUNE_BUILD = os.environ["KESTRUNE_BUILD"]
_X64_INSTEAD = winetest.WHY + ": Kestrune's behaviour checked on its x86-64 build"
if (KESTRUNE_BUILD == "i386") != winetest.HOST_RUNS_I386:
    winetest.skip_script(_X64_INSTEAD if not winetest.HOST_RUNS_I386 else
                         winetest.WHY + ": the 32-bit Kestrune.exe is what runs")
if KESTRUNE_BUILD == "i386":
    print("Kestrune under test: the 32-bit Kestrune.exe (%s)" % winetest.WHY, flush=True)
else:
    print("Kestrune under test: its x86-64 build (%s)" % _X64_INSTEAD, flush=True)

KESTRUNE_EXE = os.environ["KESTRUNE_EXE"]
STANDIN_SERVICE_EXE = os.environ["STANDIN_SERVICE_EXE"]
STANDIN_ENCRYPT_BAT = os.environ["STANDIN_ENCRYPT_BAT"]
WORK = os.environ["KESTRUNE_TEST_WORK"]

WEB_SERVER = "veltrixWebServer"
AGENT = "veltrixQuorvexAgent"
USAGE = "Usage: Kestrune username password\n"
SUCCESS = "Credentials Successfully changed\n"

# A stand-in encrypt.bat that records the password exactly as it received it
# (%~3) in received.txt. A command interpreter started with /u writes UTF-16LE
# into files; a plain one writes the console's or the ANSI code page, which
# would hide what arrived. The inner one expands the variable itself, so no
# character of the password is parsed as a command.
RECORDING_ENCRYPT_BAT = (b"@echo off\r\n"
                         b'set "secret=%~3"\r\n'
                         b'cmd /u /v:on /c "echo !secret!>received.txt"\r\n'
                         b'> "%~1" echo ENC:recorded\r\n')


def code_page_1251_environment():
    """Variables under which Wine gives its programs the ANSI code page 1251
    (Russian). Wine takes it from the Linux locale, which must exist for the
    arguments to be decoded right; it is made here from Debian's locale
    sources (package locales) into the work folder."""
    locales = os.path.join(WORK, "locales")
    if not os.path.exists(os.path.join(locales, "ru_RU.UTF-8", "LC_CTYPE")):
        os.makedirs(locales, exist_ok=True)
        subprocess.run(["localedef", "-i", "ru_RU", "-f", "UTF-8", os.path.join(locales, "ru_RU.UTF-8")],
                       check=True, stdout=subprocess.DEVNULL)
    return {"LOCPATH": locales, "LANG": "ru_RU.UTF-8", "LC_ALL": "ru_RU.UTF-8"}


def ansi_bytes_of(text, env=None):
    """The bytes that cmd.exe, without a console, writes into a file for
    `text`: its ANSI code page's."""
    os.makedirs(WORK, exist_ok=True)
    written = os.path.join(WORK, "ansi.txt")
    winetest.run(["cmd", "/c", "echo " + text + ">ansi.txt"], cwd=WORK, env=env)
    with open(written, "rb") as f:
        return f.read().rstrip(b"\r\n")


def access_list(path):
    """Windows only: the entries that icacls shows for a file, without its name."""
    path = os.path.normpath(path)
    shown = winetest.text(winetest.run(["icacls", path]).stdout).replace(path, "", 1).splitlines()
    return [entry.strip() for entry in shown if entry.strip() and not entry.startswith("Successfully processed")]


def remove_folder(path):
    """Removes a folder tree, if it exists. Windows refuses to delete a
    read-only file (some tests leave one): its flag is cleared first."""
    def clear_read_only(delete, name, _error):
        os.chmod(name, stat.S_IWRITE)
        delete(name)
    if os.path.lexists(path):
        handler = "onexc" if sys.version_info >= (3, 12) else "onerror"
        shutil.rmtree(path, **{handler: clear_read_only})


class ProductFolder:
    """A product folder: encrypt.bat (the stand-in unless told otherwise) and
    config\\server.properties."""

    def __init__(self, name, config=b"userid=old\r\npassword=old\r\n", encrypt_bat=None):
        self.root = os.path.join(WORK, name)
        remove_folder(self.root)
        os.makedirs(os.path.join(self.root, "config"))
        if encrypt_bat is None:
            shutil.copy(STANDIN_ENCRYPT_BAT, self.path("encrypt.bat"))
        elif encrypt_bat is not False:
            self.write("encrypt.bat", encrypt_bat)
        if config is not None:
            self.write("config/server.properties", config)

    def path(self, relative):
        return os.path.join(self.root, relative)

    def write(self, relative, data):
        with open(self.path(relative), "wb") as f:
            f.write(data)

    def read(self, relative):
        with open(self.path(relative), "rb") as f:
            return f.read()

    def exists(self, relative):
        return os.path.exists(self.path(relative))

    def run(self, *args, env=None):
        """Runs Kestrune.exe here (with `env` added to the environment);
        returns (exit code, stdout text)."""
        result = winetest.run([KESTRUNE_EXE] + list(args), cwd=self.root, timeout=120, env=env)
        return result.returncode, winetest.text(result.stdout)


class StandinServices:
    """The two services, registered as the stand-in program, which appends
    "start <name>" and "stop <name>" to a journal."""

    def __init__(self):
        self.journal = os.path.join(WORK, "services-journal.txt")

    def install(self, name):
        result = winetest.run([STANDIN_SERVICE_EXE, "install", name, winetest.windows_path(self.journal)])
        if result.returncode != 0:
            raise RuntimeError(winetest.text(result.stdout))
        result = winetest.run(["net", "start", name])
        if result.returncode != 0:
            raise RuntimeError(winetest.text(result.stdout))

    def remove(self, name):
        winetest.run([STANDIN_SERVICE_EXE, "remove", name])

    def setup(self):
        os.makedirs(WORK, exist_ok=True)
        for name in (WEB_SERVER, AGENT):
            self.remove(name)
            self.install(name)
        self.clear()

    def teardown(self):
        for name in (WEB_SERVER, AGENT):
            self.remove(name)

    def clear(self):
        open(self.journal, "w").close()

    def events(self):
        with open(self.journal) as f:
            return f.read().splitlines()


RESTART_ORDER = ["stop " + WEB_SERVER, "stop " + AGENT, "start " + AGENT, "start " + WEB_SERVER]
