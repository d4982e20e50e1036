"""Ostrad -d under Wine with the stand-in JVM: the start, the JVM's options,
the agent thread, Ctrl+C, and every way the start can fail."""
import os
import time
import unittest

import ostrad_fixture as fx
import winetest

AGENT = fx.AGENT_CLASS
STOPPING = "Stopping Korvane Quorvex Agent.\n"


class DebugHost:
    """One "Ostrad -d" run in a fresh installation, with a quick succeeding
    ping in its current directory (the real one takes seconds)."""

    def __init__(self, name, scenario=None, dll="fake", register=fx.register_installation, ping_status=0,
                 env=None, **tunables):
        """register: what writes the App Paths key for the installation
        folder before the start (None: the key stays missing)."""
        self.work = fx.work_folder(name)
        self.install = fx.make_installation(os.path.join(self.work, "Pelmora"), scenario, dll, **tunables)
        fx.unregister_installation()
        if register:
            register(self.install)
        fx.set_failing_ping(self.work, exit_code=ping_status)
        self.process = fx.start_debug_host(self.work, env=env)
        self.stdout = self.stderr = ""

    def journal(self):
        return fx.read_journal(self.install)

    def wait_for(self, event, timeout=30, /, **fields):
        found = fx.wait_for_event(self.install, event, timeout, **fields)
        if found is None:
            self.kill()
            raise AssertionError("no %s event; journal: %r" % (event, self.journal()))
        return found

    def ctrl_c(self):
        # Under Wine Ctrl+C (CTRL_C_EVENT), on Windows Ctrl+Break
        # (CTRL_BREAK_EVENT): the debug handler answers both.
        fx.send_ctrl_c(self.process)

    def finish(self, timeout=30):
        """Waits for the process to end; returns its exit status."""
        out, err = self.process.communicate(timeout=timeout)
        self.stdout, self.stderr = winetest.text(out), winetest.text(err)
        return self.process.returncode

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.communicate()


class ForegroundRun(unittest.TestCase):
    def tearDown(self):
        fx.unregister_installation()

    def test_start_then_ctrl_c_calls_cleanup_and_ends_with_status_0(self):
        host = DebugHost("full_run")
        main = host.wait_for("main_entered")
        self.assertIsNone(host.process.poll())
        host.ctrl_c()
        self.assertEqual(host.finish(), 0)
        self.assertEqual(host.stdout, STOPPING)
        self.assertEqual(host.stderr, "")

        journal = host.journal()
        directory = winetest.windows_path(host.install)
        create = fx.events(journal, "create_vm")
        self.assertEqual(len(create), 1)
        self.assertEqual(create[0]["version"], "0x00010002")
        self.assertEqual(create[0]["nOptions"], "6")
        self.assertEqual(create[0]["ignoreUnrecognized"], "1")
        options = fx.jvm_options(journal)
        self.assertEqual(options[:5], [
            "-Djava.class.path=%s;%s\\ostrel.jar;%s\\Brantic.jar;" % (directory, directory, directory),
            "-Djava.compiler=NONE",
            "-Duser.dir=%s" % directory,
            "-Duser.region=US",
            "-Duser.language=en"])
        self.assertRegex(options[5], r"^-Denv\.savepath=.+")
        self.assertNotEqual(options[5], "-Denv.savepath=(null)")
        self.assertTrue(all(e["extraInfo"] == "null" for e in fx.events(journal, "option")))

        # The library was found through the prepared search path.
        path = fx.events(journal, "env_path")[0]["text"]
        prefix = "%s;%s\\jre\\bin;%s\\jre\\bin\\server;" % (directory, directory, directory)
        self.assertTrue(path.startswith(prefix), path)
        self.assertGreater(len(path), len(prefix), "the old Path was dropped")

        # main runs with an empty String[] on a thread of its own...
        call = fx.events(journal, "call_static_void", method="main")[0]
        self.assertEqual(call["args"], "0")
        self.assertEqual(fx.events(journal, "new_object_array")[0]["element_class"], "java/lang/String")
        self.assertNotEqual(main["tid"], create[0]["tid"])
        # ...and cleanup runs once, on the console event's thread, attached and then detached.
        cleanup = fx.events(journal, "cleanup_entered")
        self.assertEqual(len(cleanup), 1)
        cleanup_tid = cleanup[0]["tid"]
        self.assertNotIn(cleanup_tid, (main["tid"], create[0]["tid"]))
        self.assertEqual(len([e for e in fx.events(journal, "attach") if e["tid"] == cleanup_tid]), 1)
        self.assertEqual(len([e for e in fx.events(journal, "detach") if e["tid"] == cleanup_tid]), 1)
        self.assertEqual(len(fx.events(journal, "main_returned")), 1)
        self.assertEqual(fx.events(journal, "destroy_vm"), [])
        self.assertEqual(fx.events(journal, "call_from_unattached_thread"), [])

    def test_agent_main_returning_by_itself_ends_the_run_without_cleanup(self):
        host = DebugHost("returns", scenario="returns")
        self.assertEqual(host.finish(), 0)
        self.assertEqual(host.stdout, "")
        journal = host.journal()
        self.assertEqual(len(fx.events(journal, "main_returned")), 1)
        self.assertEqual(fx.events(journal, "cleanup_entered"), [])

    def test_missing_agent_class_ends_the_run_quietly(self):
        host = DebugHost("no_class", scenario="no_class")
        self.assertEqual(host.finish(), 0)
        self.assertEqual(host.stdout + host.stderr, "")
        journal = host.journal()
        self.assertEqual(fx.events(journal, "find_class", name=AGENT, found=0)[0]["name"], AGENT)
        self.assertEqual(fx.events(journal, "main_entered"), [])

    def test_attach_failure_is_reported_on_standard_error(self):
        host = DebugHost("attach_fails", scenario="attach_fails")
        self.assertEqual(host.finish(), 0)
        self.assertEqual(host.stderr, "Attach of %s thread failed\n" % AGENT)
        self.assertEqual(host.stdout, "")
        self.assertEqual(fx.events(host.journal(), "main_entered"), [])

    def test_missing_cleanup_method_calls_nothing_and_leaves_the_agent_running(self):
        host = DebugHost("no_cleanup", scenario="no_cleanup")
        host.wait_for("main_entered")
        host.ctrl_c()
        host.wait_for("get_static_method", name="cleanup")
        try:
            detached = winetest.wait_until(
                lambda: len(fx.events(host.journal(), "detach")) >= 1, 10)
            self.assertTrue(detached)
            time.sleep(0.5)
            # Nothing asked the agent to end: the foreground run goes on.
            self.assertIsNone(host.process.poll())
            journal = host.journal()
            self.assertEqual(fx.events(journal, "get_static_method", name="cleanup")[0]["found"], "0")
            self.assertEqual(fx.events(journal, "cleanup_entered"), [])
        finally:
            host.kill()


class StopAtAnyMoment(unittest.TestCase):
    def tearDown(self):
        fx.unregister_installation()

    def test_ctrl_c_during_the_probe_gives_the_start_up_at_once(self):
        host = DebugHost("stop_in_probe", ping_status=1)
        self.assertTrue(winetest.wait_until(lambda: fx.ping_runs(host.work) >= 1, 30))
        stopped_at = time.monotonic()
        host.ctrl_c()
        self.assertEqual(host.finish(timeout=30), 0)
        self.assertLess(time.monotonic() - stopped_at, 8, "the probe's pause was not cut short")
        self.assertEqual(host.stdout, STOPPING)
        self.assertEqual(fx.ping_runs(host.work), 1)
        self.assertEqual(fx.events(host.journal(), "create_vm"), [])

    def test_ctrl_c_during_jvm_creation_never_launches_the_agent(self):
        host = DebugHost("stop_in_create", create_ms=3000)
        host.wait_for("create_vm")
        host.ctrl_c()
        self.assertEqual(host.finish(), 0)
        self.assertEqual(host.stdout, STOPPING)
        journal = host.journal()
        self.assertEqual(fx.events(journal, "main_entered"), [])
        self.assertEqual(fx.events(journal, "cleanup_entered"), [])

    def test_second_ctrl_c_while_cleanup_runs_calls_cleanup_only_once(self):
        host = DebugHost("ctrl_c_twice", cleanup_ms=3000)
        host.wait_for("main_entered")
        host.ctrl_c()
        host.wait_for("cleanup_entered")
        host.ctrl_c()
        self.assertEqual(host.finish(), 0)
        # Wine runs console handlers one event at a time, so the second event's
        # handler starts only when the first one's returns, just as cleanup ends
        # and the process exits: its line may or may not make it out.
        self.assertIn(host.stdout, (STOPPING, STOPPING * 2))
        journal = host.journal()
        self.assertEqual(len(fx.events(journal, "cleanup_entered")), 1)
        self.assertEqual(len(fx.events(journal, "cleanup_returned")), 1)


class StartGivenUp(unittest.TestCase):
    """Each of these ends the run by itself, silently, with status 0."""

    def tearDown(self):
        fx.unregister_installation()

    def assert_given_up(self, host):
        self.assertEqual(host.finish(), 0)
        self.assertEqual(host.stdout + host.stderr, "")
        self.assertEqual(fx.events(host.journal(), "main_entered"), [])

    def test_missing_app_paths_key(self):
        host = DebugHost("no_key", register=None)
        self.assert_given_up(host)
        self.assertEqual(host.journal(), [])

    def test_key_with_only_the_unnamed_default_value(self):
        host = DebugHost("default_only",
                         register=lambda folder: fx.set_app_paths_value(None, winetest.windows_path(folder)))
        self.assert_given_up(host)
        self.assertEqual(host.journal(), [])

    def test_value_named_in_another_case(self):
        for name in ("path", "PATH"):
            with self.subTest(name=name):
                host = DebugHost("case_" + name,
                                 register=lambda folder: fx.set_app_paths_value(name, winetest.windows_path(folder)))
                self.assert_given_up(host)
                self.assertEqual(host.journal(), [])

    def test_path_value_too_long_for_its_buffer(self):
        def register_long_value(folder):
            fx.set_app_paths_value("Path", winetest.windows_path(folder) + "\\" + "x" * 1100)
        host = DebugHost("long_value", register=register_long_value)
        self.assert_given_up(host)
        self.assertEqual(host.journal(), [])

    def test_path_value_without_its_terminating_zero(self):
        def register_unterminated(folder):
            data = winetest.windows_path(folder).encode("latin-1").hex()
            fx.set_app_paths_value("Path", data, kind="REG_BINARY")
        host = DebugHost("unterminated", register=register_unterminated)
        self.assert_given_up(host)
        self.assertEqual(host.journal(), [])

    def test_missing_jvm_library(self):
        self.assert_given_up(DebugHost("no_dll", dll=None))

    def test_library_without_the_creation_entry(self):
        host = DebugHost("no_entry", dll="noentry")
        self.assert_given_up(host)
        self.assertEqual(len(fx.events(host.journal(), "dll_loaded", name="jvm_noentry")), 1)
        self.assertEqual(fx.events(host.journal(), "create_vm"), [])

    def test_jvm_creation_refused(self):
        host = DebugHost("refuse", scenario="refuse")
        self.assert_given_up(host)
        self.assertEqual(fx.events(host.journal(), "create_vm_result")[0]["result"], "-1")


if __name__ == "__main__":
    unittest.main()
