"""Ostrad.exe with a real JVM: a sample installation whose jre is a copy of the
JDK's runtime (its own jvm.dll) and whose ostrel.jar holds a real agent class
(real_agent/), compiled by javac. Each scenario starts the agent one way and
stops it another, and is checked from the agent's own record.

Runs where JAVA_HOME holds a Windows JDK; elsewhere it is reported as not
run (KORVANE_REAL_JVM_REQUIRED=1, as in the Windows workflow, makes that a
failure instead).
"""
import glob
import os
import shutil
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import ostrad_fixture as fx  # noqa: E402
import service_helpers as sh  # noqa: E402
import winetest  # noqa: E402

JAVA_HOME = os.environ.get("JAVA_HOME", "")
JDK_FILES = [os.path.join("bin", "javac.exe"), os.path.join("bin", "jar.exe"), os.path.join("bin", "server", "jvm.dll")]
missing = [name for name in JDK_FILES if not JAVA_HOME or not os.path.isfile(os.path.join(JAVA_HOME, name))]
if missing:
    reason = "no Windows JDK: JAVA_HOME (%s) holds no %s" % (JAVA_HOME or "not set", ", ".join(missing))
    if os.environ.get("KORVANE_REAL_JVM_REQUIRED") == "1":
        print("FAILED: " + reason, flush=True)
        sys.exit(1)
    winetest.skip_script(reason + "; the real-JVM test runs on Windows")

AGENT_SOURCES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "real_agent")
RECORD_NAME = "agent-record.txt"  # the agent writes it beside ostrel.jar
EXIT_NAME = "agent-exit.txt"  # beside ostrel.jar: the agent prints a line and calls System.exit(<its number>)


def jdk_tool(name, *args):
    result = winetest.run([os.path.join(JAVA_HOME, "bin", name + ".exe")] + list(args), timeout=300)
    if result.returncode != 0:
        raise RuntimeError("%s failed: %s" % (name, winetest.text(result.stdout + result.stderr)))


def make_installation(work):
    """The installation folder: jar placeholders (the fixture's), ostrel.jar
    built from the agent's source, and jre: the JDK's bin, conf and lib (the
    JVM finds its runtime from where jvm.dll lies)."""
    install = fx.make_installation(os.path.join(work, "Pelmora"), dll=None)
    shutil.rmtree(os.path.join(install, "jre"))
    for folder in ("bin", "conf", "lib"):
        shutil.copytree(os.path.join(JAVA_HOME, folder), os.path.join(install, "jre", folder))
    classes = os.path.join(work, "classes")
    sources = glob.glob(os.path.join(AGENT_SOURCES, "**", "*.java"), recursive=True)
    jdk_tool("javac", "-d", winetest.windows_path(classes), *[winetest.windows_path(s) for s in sources])
    jdk_tool("jar", "cf", winetest.windows_path(os.path.join(install, "ostrel.jar")),
             "-C", winetest.windows_path(classes), ".")
    return install


def read_record(install):
    try:
        with open(os.path.join(install, RECORD_NAME), encoding="utf-8") as record:
            return dict(line.rstrip("\n").split("=", 1) for line in record if "=" in line)
    except FileNotFoundError:
        return {}


# The scenarios: how the agent is started, then how it is stopped. A start
# returns what its stop needs; each checks the host's console text.
def start_foreground(test, install):
    host = fx.start_debug_host(os.path.dirname(install))  # the system's own ping: the real probe
    test.addCleanup(lambda: host.poll() is None and host.kill())
    return host


def stop_foreground(test, host):
    fx.send_ctrl_c(host)  # winetest.INTERRUPT_EVENT: CTRL_BREAK_EVENT on Windows
    try:
        out, err = host.communicate(timeout=60)
    except subprocess.TimeoutExpired:
        host.kill()
        out, err = host.communicate()
        test.fail("Ostrad -d did not end after %s; its output:\n%s" % (
            winetest.INTERRUPT_EVENT, winetest.text(out + err)))
    test.assertEqual(host.returncode, 0)
    test.assertTrue(winetest.text(out).endswith(fx.STOPPING), winetest.text(out + err))


def start_service(test, install):
    test.assertEqual(sh.ostrad("-i")[:2], (0, fx.INSTALLED))
    test.assertEqual(sh.wait_for_state(sh.RUNNING, 90)[0], sh.RUNNING)  # no stop while it starts


def stop_through_scm(test, _):
    result = winetest.run(["net", "stop", sh.SERVICE], timeout=120)
    test.assertEqual(result.returncode, 0, winetest.text(result.stdout + result.stderr))
    test.assertEqual(sh.ostrad("-r")[:2], (0, fx.REMOVED))


def stop_by_removal(test, _):
    test.assertEqual(sh.ostrad("-r", timeout=120)[:2], (0, fx.STOPPED_AND_REMOVED))


SCENARIOS = [
    ("Ostrad -d, then the console interrupt", start_foreground, stop_foreground),
    ("Ostrad -i, then the SCM's stop", start_service, stop_through_scm),
    ("Ostrad -i, then Ostrad -r", start_service, stop_by_removal),
]


class RealJvm(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        sh.force_remove_service()
        cls.work = fx.work_folder("real_jvm")
        cls.install = make_installation(cls.work)
        fx.register_installation(cls.install)
        result = winetest.run(["cmd", "/c", "echo %ALLUSERSPROFILE%"], timeout=60)
        cls.all_users_profile = winetest.text(result.stdout).strip()

    @classmethod
    def tearDownClass(cls):
        sh.force_remove_service()
        fx.unregister_installation()

    def test_agent_sees_the_host_options_and_stops_through_cleanup(self):
        directory = winetest.windows_path(self.install)
        expected = {
            "main.args": "0",
            "java.class.path": "%s;%s\\ostrel.jar;%s\\Brantic.jar;" % (directory, directory, directory),
            "user.dir": directory,
            "user.region": "US",
            "user.language": "en",
            "env.savepath": self.all_users_profile,
            "main.returned": "yes",
        }
        for name, start, stop in SCENARIOS:
            with self.subTest(name):
                sh.force_remove_service()
                try:
                    os.remove(os.path.join(self.install, RECORD_NAME))
                except FileNotFoundError:
                    pass
                started = start(self, self.install)
                entered = winetest.wait_until(lambda: read_record(self.install).get("main.entered"), 90)
                self.assertEqual(entered, "yes", "the agent's main never ran: %r" % read_record(self.install))
                stop(self, started)
                self.assertTrue(winetest.wait_until(lambda: "main.returned" in read_record(self.install), 30),
                                "the agent's main did not return: %r" % read_record(self.install))
                record = read_record(self.install)
                self.assertEqual({key: record.get(key) for key in expected}, expected)
                # -Djava.compiler=NONE: a property on older JVMs, interpreted mode on JDK 17.
                self.assertTrue(record["java.compiler"] == "NONE"
                                or record["java.vm.info"].startswith("interpreted mode"), record)
                # main on a thread of its own (the creating thread is "main"),
                # cleanup on another: the stop's.
                self.assertNotIn(record["main.thread"], ("main", ""))
                self.assertIn("cleanup.thread", record)
                self.assertNotEqual(record["cleanup.thread"], record["main.thread"])
                self.assertTrue(sh.no_ostrad_left(30), "Ostrad processes left: %r" % sh.ostrad_processes())

    def test_agent_output_and_its_system_exit_reach_the_log_and_the_scm(self):
        logs = os.path.dirname(fx.agent_output_log())
        shutil.rmtree(logs, ignore_errors=True)
        sh.force_remove_service()
        with open(os.path.join(self.install, EXIT_NAME), "w") as exit_file:
            exit_file.write("3\n")
        self.addCleanup(os.remove, os.path.join(self.install, EXIT_NAME))
        self.assertEqual(sh.ostrad("-i")[:2], (0, fx.INSTALLED))
        self.assertTrue(winetest.wait_until(lambda: sh.status()[0] == sh.STOPPED, 90), sh.status())
        self.assertEqual(sh.exit_codes(), (1066, 3))
        with open(fx.agent_output_log(), encoding="utf-8", errors="replace") as log:
            self.assertIn("real agent: System.exit(3)", log.read())
        # The folder the service made: only Administrators and SYSTEM, as icacls lists them.
        listing = winetest.text(winetest.run(["icacls", winetest.windows_path(logs)], timeout=60).stdout)
        entries = listing.split("\n\n")[0][len(winetest.windows_path(logs)):].split("\n")
        self.assertEqual({entry.strip().split(":(")[0] for entry in entries if entry.strip()},
                         {"BUILTIN\\Administrators", "NT AUTHORITY\\SYSTEM"}, listing)


if __name__ == "__main__":
    unittest.main()
