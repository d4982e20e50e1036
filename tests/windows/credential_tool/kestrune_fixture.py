"""Product folders and stand-in services for the Kestrune Wine tests.

Environment (set by CMake): KESTRUNE_BUILD ("i386": the shipped program,
"x86-64": its test build), KESTRUNE_EXE, STANDIN_SERVICE_EXE,
STANDIN_ENCRYPT_BAT, KESTRUNE_TEST_WORK.

A script that imports this module runs only the build this host can run, and
says which one and why; the other build's scripts end as not run.
"""
import os
import shutil

import winetest

KESTRUNE_BUILD = os.environ["KESTRUNE_BUILD"]
if KESTRUNE_BUILD == "i386" and not winetest.HOST_RUNS_I386:
    winetest.skip_script(winetest.WHY + ": Kestrune's behaviour checked on its x86-64 build")
if KESTRUNE_BUILD == "x86-64" and winetest.HOST_RUNS_I386:
    winetest.skip_script(winetest.WHY + ": the 32-bit Kestrune.exe is what runs")
if KESTRUNE_BUILD == "i386":
    print("Kestrune under test: the 32-bit Kestrune.exe (%s)" % winetest.WHY, flush=True)
else:
    print("Kestrune under test: its x86-64 build (%s: Kestrune's behaviour checked on its x86-64 build)"
          % winetest.WHY, flush=True)

KESTRUNE_EXE = os.environ["KESTRUNE_EXE"]
STANDIN_SERVICE_EXE = os.environ["STANDIN_SERVICE_EXE"]
STANDIN_ENCRYPT_BAT = os.environ["STANDIN_ENCRYPT_BAT"]
WORK = os.environ["KESTRUNE_TEST_WORK"]

WEB_SERVER = "veltrixWebServer"
AGENT = "veltrixQuorvexAgent"
USAGE = "Usage: Kestrune username password\n"
SUCCESS = "Credentials Successfully changed\n"


class ProductFolder:
    """A product folder: encrypt.bat (the stand-in unless told otherwise) and
    config\\server.properties."""

    def __init__(self, name, config=b"userid=old\r\npassword=old\r\n", encrypt_bat=None):
        self.root = os.path.join(WORK, name)
        shutil.rmtree(self.root, ignore_errors=True)
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

    def run(self, *args):
        """Runs Kestrune.exe here; returns (exit code, stdout text)."""
        result = winetest.run([KESTRUNE_EXE] + list(args), cwd=self.root, timeout=120)
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
