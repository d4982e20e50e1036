"""Ostrad in service mode under Wine's real Service Control Manager: the
reports it sends on the way through start and stop (watched through
QueryServiceStatus), the controls it answers, starts that end by themselves,
and the program started from a console without the SCM."""
import os
import shutil
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import ostrad_fixture as fx  # noqa: E402
import service_helpers as sh  # noqa: E402
import winetest  # noqa: E402

R, S = sh.RUNNING, sh.STOPPED
START, STOP = sh.START_PENDING, sh.STOP_PENDING
# Every report of a start and a stop control, in order: (state, controls
# accepted, checkpoint, wait hint), after the status the SCM itself sets when it
# starts the process. A watcher that polls may miss short ones.
SCM_STARTING = (START, 0, 0, winetest.SCM_START_WAIT_HINT_MS)
FULL_START_AND_STOP = [SCM_STARTING, (START, 0, 1, 10000), (START, 0, 2, 0), (R, 5, 0, 10000),
                       (STOP, 5, 3, 10000), (STOP, 5, 4, 10000), (S, 5, 0, 0)]
ERROR_INVALID_PARAMETER = "87"
ERROR_SERVICE_SPECIFIC_ERROR = 1066
# A service that fails: (scenario, its one event text, its service-specific exit code).
FAILED_CASES = [
    ("refuse", "Start given up: JNI_CreateJavaVM returned -1 (JNI_ERR) - the JVM's last messages: "
     "Invalid thread stack size: -Xss1k.", 1),
    ("gives_up", "Start given up: the JVM aborted while it was being created - the JVM's last messages: "
     "Error occurred during initialization of VM | Could not reserve enough space for 8388608KB object heap", 1),
    ("exits", "The agent ended the process with status 3 (System.exit or Runtime.halt)", 3),
    ("main_throws", "The agent failed: %s.main ended with an uncaught exception - "
     "java.lang.IllegalStateException: agent failed" % fx.AGENT_CLASS, 2),
]


def install_quietly(test):
    test.assertEqual(sh.ostrad("-i")[:2], (0, fx.INSTALLED))


class ServiceMode(sh.ServiceTestCase, unittest.TestCase):
    def start_watched(self):
        """Stops the service that installation started, then starts it again
        under a watcher, so that the watch sees the whole start."""
        install_quietly(self)
        sh.wait_for_state(R, 30)
        winetest.run(["net", "stop", sh.SERVICE], timeout=60)
        self.assertEqual(sh.wait_for_state(S, 20)[0], S)
        self.assertTrue(sh.no_ostrad_left())
        watcher = sh.Watcher()
        self.addCleanup(watcher.kill)
        result = winetest.run(["net", "start", sh.SERVICE], timeout=60)
        self.assertEqual(result.returncode, 0, winetest.text(result.stdout))
        return watcher

    def test_start_and_stop_report_each_stage_with_one_checkpoint_series(self):
        # create_ms and cleanup_ms keep the short pending stages visible to the watch.
        self.make_installation("reports", create_ms=1500, cleanup_ms=1500)
        watcher = self.start_watched()
        self.assertEqual(sh.wait_for_state(R, 30)[0], R)
        result = winetest.run(["net", "stop", sh.SERVICE], timeout=60)
        self.assertEqual(result.returncode, 0, winetest.text(result.stdout))
        series = watcher.series()
        self.assertTrue(sh.is_subsequence(series, FULL_START_AND_STOP), series)
        for stage in [(START, 0, 1, 10000), (START, 0, 2, 0), (R, 5, 0, 10000), (STOP, 5, 4, 10000), (S, 5, 0, 0)]:
            self.assertIn(stage, series)
        self.assertEqual(sh.exit_codes(), (0, 0))  # a stop asked for is no failure
        # The stop ran the agent's cleanup, on a thread of its own.
        journal = self.journal()
        main = fx.events(journal, "main_entered")[-1]
        cleanup = [e for e in fx.events(journal, "cleanup_returned") if e["pid"] == main["pid"]]
        self.assertEqual(len(cleanup), 1)
        self.assertNotEqual(cleanup[0]["tid"], main["tid"])
        self.assert_no_process_left()

    def test_a_cleanup_that_never_returns_is_given_up_at_the_limit_the_controls_answered_at_once(self):
        self.make_installation("hung-cleanup", cleanup_ms="never")
        install_quietly(self)
        self.assertEqual(sh.wait_for_state(R, 30)[0], R)
        watcher = sh.Watcher(timeout_ms=(fx.CLEANUP_LIMIT_S + 30) * 1000)
        self.addCleanup(watcher.kill)
        began = time.monotonic()
        # The stop, then an interrogate while cleanup runs: both answered at once with stop pending
        # (the SCM itself refuses the interrogate in that state: 1061, never a timeout).
        for code, answer in ("1", "control_done"), ("4", "control_failed error=1061"):
            _, lines = sh.scprobe("control", sh.SERVICE, code)
            self.assertIn(answer, lines[-1]["line"])
            self.assertEqual(lines[-1]["state"], str(STOP))
            self.assertLess(float(lines[-1]["t"]) - float(lines[0]["t"]), 3000)
            fx.wait_for_event(self.install, "cleanup_entered", 10)
        series = watcher.series(timeout=fx.CLEANUP_LIMIT_S + 60)
        self.assertGreater(time.monotonic() - began, fx.CLEANUP_LIMIT_S - 5)
        # Re-reported every 5 s, each time with the next checkpoint and a hint that covers the next.
        pending = [checkpoint for state, _, checkpoint, hint in series if state == STOP and hint >= 5000]
        self.assertEqual(pending, sorted(set(pending)), series)
        self.assertGreaterEqual(len(pending), fx.CLEANUP_LIMIT_S // 6, series)
        self.assertEqual(series[-1], (S, 5, 0, 0))
        self.assertEqual(sh.exit_codes(), (0, 0))  # the stop was asked for: the event says the rest
        self.assert_no_process_left()
        self.assertEqual(fx.events(self.journal(), "cleanup_returned"), [])

    def test_interrogate_and_other_controls_re_report_the_current_state(self):
        self.make_installation("controls")
        install_quietly(self)
        self.assertEqual(sh.wait_for_state(R, 30)[0], R)
        for code in ("4", "128"):  # interrogate, a control of the service's own range
            _, lines = sh.scprobe("control", sh.SERVICE, code)
            done = lines[-1]
            self.assertIn("control_done", done["line"])
            self.assertEqual((done["state"], done["accepted"], done["checkpoint"], done["hint"]),
                             ("4", "5", "0", "10000"))
        # Only the system may send the shutdown control; the SCM refuses it from a program.
        _, lines = sh.scprobe("control", sh.SERVICE, "5")
        self.assertEqual(lines[-1].get("error"), ERROR_INVALID_PARAMETER)
        self.assertEqual(sh.status(), (R, 5, 0, 10000))
        self.assertEqual(fx.events(self.journal(), "cleanup_entered"), [])

    def test_stop_while_start_pending_is_refused_and_the_start_goes_on(self):
        self.make_installation("stop-while-starting")
        sh.install_service_ping(self.work)  # the first probe fails: 10 s pause
        install_quietly(self)
        self.assertTrue(winetest.wait_until(
            lambda: os.path.exists(os.path.join(self.work, "probe-failed-once")), 10))
        self.assertEqual(sh.status(), (START, 0, 1, 10000))
        _, lines = sh.scprobe("control", sh.SERVICE, "1")
        self.assertEqual(lines[-1].get("error"), winetest.STOP_WHILE_STARTING_ERROR)
        result = winetest.run(["net", "stop", sh.SERVICE], timeout=60)
        self.assertNotEqual(result.returncode, 0)
        self.assertEqual(sh.status(), (START, 0, 1, 10000))
        # After the pause the probe succeeds and the agent starts.
        self.assertEqual(sh.wait_for_state(R, 30), (R, 5, 0, 10000))
        self.assertEqual(len(fx.events(self.journal(), "create_vm")), 1)
        result = winetest.run(["net", "stop", sh.SERVICE], timeout=60)
        self.assertEqual(result.returncode, 0, winetest.text(result.stdout + result.stderr))
        # Wine's net stop returns once the stop control is answered, before cleanup.
        self.assertEqual(sh.wait_for_state(S, 20)[0], S)
        self.assertEqual(len(fx.events(self.journal(), "cleanup_returned")), 1)
        self.assert_no_process_left()

    def test_a_failed_service_stops_with_its_code_and_says_why(self):
        # The service's standard error, where Wine shows its events.
        events_log = os.path.join(fx.work_folder("failed"), "services-stderr.log")
        if winetest.ON_WINDOWS:
            open(events_log, "w").close()  # Windows keeps the events in its log
        else:
            self.addCleanup(sh.restore_wine_session)
            sh.restart_wine_session(events_log, fx.EVENTLOG_WINEDEBUG)
        for scenario, text, code in FAILED_CASES:
            with self.subTest(scenario):
                sh.force_remove_service()
                self.make_installation("failed-" + scenario, scenario=scenario)
                events = fx.EventCapture()
                logged = os.path.getsize(events_log)
                watcher = sh.Watcher()
                self.addCleanup(watcher.kill)
                install_quietly(self)
                series = watcher.series()
                self.assertTrue(sh.is_subsequence(series, FULL_START_AND_STOP), series)
                self.assertEqual(series[-1], (S, 5, 0, 0))
                self.assertEqual(sh.exit_codes(), (ERROR_SERVICE_SPECIFIC_ERROR, code))
                self.assert_no_process_left()
                with open(events_log, encoding="latin-1") as log:
                    log.seek(logged)
                    texts, _ = events.split(log.read())
                self.assertEqual(len(texts), 1, texts)
                self.assertTrue(fx.event_text_matches(texts[0], text), texts)

    def test_agent_main_returning_by_itself_ends_the_service_without_cleanup(self):
        self.make_installation("returns", scenario="returns", main_ms=1500)
        watcher = sh.Watcher()
        self.addCleanup(watcher.kill)
        install_quietly(self)
        series = watcher.series()
        self.assertIn((R, 5, 0, 10000), series)
        self.assertEqual(series[-1], (S, 5, 0, 0))
        self.assertEqual(sh.exit_codes(), (0, 0))
        journal = self.journal()
        self.assertEqual(len(fx.events(journal, "main_returned")), 1)
        self.assertEqual(fx.events(journal, "cleanup_entered"), [])
        self.assert_no_process_left()

    def test_agent_output_goes_to_its_log_which_moves_up_at_its_bound(self):
        shutil.rmtree(os.path.dirname(fx.agent_output_log()), ignore_errors=True)
        # More than the 10 MiB bound, written while the service runs; then System.exit(0).
        written = 10 * 1024 * 1024 + 4096
        self.make_installation("output", scenario="exits", exit_status=0, output_bytes=written, main_ms=1500)
        watcher = sh.Watcher()
        self.addCleanup(watcher.kill)
        install_quietly(self)
        self.assertEqual(watcher.series()[-1], (S, 5, 0, 0))
        self.assertEqual(sh.exit_codes(), (0, 0))  # the agent chose to end
        self.assert_no_process_left()
        with open(fx.agent_output_log(1), "rb") as old, open(fx.agent_output_log(), "rb") as new:
            first, second = old.read(), new.read()
        self.assertRegex(first, rb"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d Service started, process id \d+\r\n"
                                rb"stand-in agent output\r\n")
        self.assertLessEqual(len(first), 10 * 1024 * 1024)
        self.assertEqual(len(first) + len(second), first.index(b"\n") + 1 + written)  # the start line, the output
        self.assertFalse(os.path.exists(fx.agent_output_log(2)))


class WithoutScm(unittest.TestCase):
    def test_started_from_a_console_it_waits_for_nothing_and_ends_with_status_0(self):
        for args in ([], ["-x"], ["d"]):
            status, out, _ = sh.ostrad(*args, timeout=60)
            self.assertEqual((status, out), (0, "Wait while service is started...\n"), args)
        self.assertTrue(sh.no_ostrad_left())

    def test_the_failed_dispatcher_start_goes_to_the_event_log(self):
        events = fx.EventCapture()
        result = winetest.run([os.environ["OSTRAD_EXE"]], timeout=60, env={"WINEDEBUG": fx.EVENTLOG_WINEDEBUG})
        self.assertEqual(winetest.text(result.stdout), "Wait while service is started...\n")
        texts, others = events.split(winetest.text(result.stderr))
        self.assertEqual((texts, others), ([("serviceStartCtrlDispatcher failed.", False)], []))


if __name__ == "__main__":
    unittest.main()
