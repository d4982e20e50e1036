"""Ostrad -d under Wine with the stand-in JVM: the start, the JVM's options,
the agent thread, Ctrl+C, and every way the start can fail."""
import os
import re
import shutil
import time
import unittest

import ostrad_fixture as fx
import winetest

AGENT = fx.AGENT_CLASS
STOPPING = fx.STOPPING
# Standard error then shows every event the run writes: a stop writes none.
EVENTS_SHOWN = {"WINEDEBUG": fx.EVENTLOG_WINEDEBUG}


class DebugHost:
    """One "Ostrad -d" run in a fresh installation, with the stand-in ping
    (the real one takes seconds) answering with ping_status."""

    def __init__(self, name, scenario=None, dll="fake", register=fx.register_installation, ping_status=0,
                 env=None, planted=False, **tunables):
        """register: what writes the App Paths key for the installation
        folder before the start (None: the key stays missing). planted:
        someone else's jvm.dll and ping.cmd in the folder the host starts in."""
        self.work = fx.work_folder(name)
        self.install = fx.make_installation(os.path.join(self.work, "Pelmora"), scenario, dll, **tunables)
        fx.unregister_installation()
        if register:
            register(self.install)
        fx.use_ping_standin(ping_status)
        if planted:
            fx.plant_in(self.work)
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
        """Waits for the process to end; returns its exit status. stdout is
        the host's own output: on Windows the system's ping answers first on
        the console, and its lines are left out."""
        out, err = self.process.communicate(timeout=timeout)
        self.stdout = re.sub(r"\A\n?Pinging .*?Average = \d+ms\n", "", winetest.text(out), flags=re.S)
        self.stderr = winetest.text(err)
        return self.process.returncode

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.communicate()


def newest_event_text():
    """Windows only: the newest error event's string, as UTF-8 from PowerShell."""
    script = ("[Console]::OutputEncoding = [Text.Encoding]::UTF8; "
              "(Get-WinEvent -FilterHashtable @{LogName='Application'; ProviderName='%s'; Level=2} -MaxEvents 1)"
              ".Properties[0].Value" % fx.EVENT_SOURCE)
    result = winetest.run(["powershell", "-NoProfile", "-Command", script], timeout=60)
    return result.stdout.decode("utf-8").rstrip("\r\n")


class ForegroundRun(unittest.TestCase):
    def tearDown(self):
        fx.unregister_installation()
        fx.restore_system_ping()

    def test_start_then_ctrl_c_calls_cleanup_and_ends_with_status_0(self):
        events = fx.EventCapture()
        host = DebugHost("full_run", env=EVENTS_SHOWN)
        main = host.wait_for("main_entered")
        self.assertIsNone(host.process.poll())
        host.ctrl_c()
        self.assertEqual(host.finish(), 0)
        self.assertEqual(host.stdout, STOPPING)
        self.assertEqual(events.split(host.stderr), ([], []))  # nothing on stderr, no event

        journal = host.journal()
        directory = winetest.windows_path(host.install)
        create = fx.events(journal, "create_vm")
        self.assertEqual(len(create), 1)
        self.assertEqual(create[0]["version"], "0x00010002")
        self.assertEqual(create[0]["nOptions"], "10")
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
        logs = winetest.windows_path(os.path.join(os.path.dirname(fx.ostrad_exe()), "logs"))
        self.assertEqual(options[6:], ["-XX:ErrorFile=%s\\hs_err_pid%%p.log" % logs, "vfprintf", "exit", "abort"])
        self.assertEqual([e["extraInfo"] for e in fx.events(journal, "option")], ["null"] * 7 + ["object"] * 3)

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
        # The host, not the JVM's own console handler, answered the interrupt.
        self.assertEqual(fx.events(journal, "jvm_console_event"), [])
        self.assertEqual(fx.events(journal, "destroy_vm"), [])
        self.assertEqual(fx.events(journal, "call_from_unattached_thread"), [])

    def test_nothing_planted_in_the_current_folder_runs(self):
        host = DebugHost("planted", planted=True)
        host.wait_for("main_entered", 60)
        host.ctrl_c()
        self.assertEqual((host.finish(), host.stdout), (0, STOPPING))
        self.assertEqual(fx.planted_that_ran(host.work), [])
        # The installation's JVM was created, after the system folder's ping answered.
        self.assertEqual(len(fx.events(host.journal(), "create_vm")), 1)
        if not winetest.ON_WINDOWS:
            self.assertEqual(fx.ping_runs(), ["ping localhost"])
        with self.subTest("a library the JVM loads by its bare name"):
            if not winetest.ON_WINDOWS:
                self.skipTest(fx.WINE_SEARCHES_CURRENT_FOLDER)
            self.assertEqual([e["loaded"] for e in fx.events(host.journal(), "search_probe")], ["0"])

    def test_agent_main_returning_by_itself_ends_the_run_without_cleanup(self):
        host = DebugHost("returns", scenario="returns")
        self.assertEqual(host.finish(), 0)
        self.assertEqual(host.stdout, "")
        journal = host.journal()
        self.assertEqual(len(fx.events(journal, "main_returned")), 1)
        self.assertEqual(fx.events(journal, "cleanup_entered"), [])

    def test_an_exception_out_of_the_agent_is_logged_and_still_reported_by_the_jvm(self):
        # main's message lies beyond any ANSI code page and beyond 16 bits: the event has it as written.
        message = "Datei nicht gefunden: \u00e4 \u0416 \U0001D11E"
        for call, stopping, failed in [("main", "", "The agent failed"),
                                       ("cleanup", STOPPING, "The agent's cleanup failed")]:
            with self.subTest(call):
                events = fx.EventCapture()
                host = DebugHost("throws_" + call, scenario=call + "_throws", main_message=message, env=EVENTS_SHOWN)
                if stopping:
                    host.wait_for("main_entered")
                    host.ctrl_c()
                self.assertEqual((host.finish(), host.stdout), (0, stopping))
                exception = "java.lang.IllegalStateException: %s" % (message if call == "main" else "cleanup failed")
                texts, others = events.split(host.stderr)
                if winetest.ON_WINDOWS and call == "main":
                    texts = [(newest_event_text(), False)]
                self.assertEqual(len(texts), 1, texts)
                self.assertTrue(fx.event_text_matches(
                    texts[0], "%s: %s.%s ended with an uncaught exception - %s" % (failed, AGENT, call, exception)))
                shown = exception.encode("utf-8").decode("latin-1")  # the JVM writes UTF-8 bytes
                self.assertRegex("\n".join(others), r'\AException in thread "Thread-\d+" %s\Z' % re.escape(shown))

    def test_a_start_from_folders_users_may_change_warns_and_still_starts(self):
        # A closed installation only under Wine: on Windows the checkout's folders may let users in.
        opened = ["", "\\jre\\bin", "\\jre\\bin\\server"] if winetest.ON_WINDOWS else [""]
        rows = [(0o777, opened + ["\\jre\\bin\\server\\jvm.dll"]), (0o755, [])]
        for mode, changeable in rows[:1] if winetest.ON_WINDOWS else rows:
            with self.subTest(oct(mode)):
                def open_up(folder):
                    fx.let_users_change(folder, mode)
                    os.chmod(os.path.join(folder, fx.JVM_FOLDER, "jvm.dll"), mode)
                    fx.register_installation(folder)
                events = fx.EventCapture()
                host = DebugHost("changeable_%o" % mode, register=open_up, env={"WINEDEBUG": fx.WARNINGS_WINEDEBUG})
                host.wait_for("main_entered")
                host.ctrl_c()
                self.assertEqual((host.finish(), host.stdout), (0, STOPPING))
                warnings = events.warnings(host.stderr)
                self.assertEqual(len(warnings), min(len(changeable), 1), warnings)
                for path in changeable:
                    self.assertRegex(warnings[0], r'^Ordinary users may change what the service loads as LocalSystem: '
                                     r'.*%s may change "%s";' % (fx.USERS_GROUP, re.escape(directory(host) + path)))

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
            self.assertEqual(fx.events(journal, "jvm_console_event"), [])
        finally:
            host.kill()


class StopAtAnyMoment(unittest.TestCase):
    def tearDown(self):
        fx.unregister_installation()
        fx.restore_system_ping()

    def test_ctrl_c_during_the_probe_gives_the_start_up_at_once(self):
        events = fx.EventCapture()
        host = DebugHost("stop_in_probe", ping_status=1, env=EVENTS_SHOWN)
        self.assertTrue(winetest.wait_until(lambda: len(fx.ping_runs()) >= 1, 30))
        stopped_at = time.monotonic()
        host.ctrl_c()
        self.assertEqual(host.finish(timeout=30), 0)
        self.assertLess(time.monotonic() - stopped_at, 8, "the probe's pause was not cut short")
        self.assertEqual((host.stdout, events.split(host.stderr)), (STOPPING, ([], [])))
        self.assertEqual(fx.ping_runs(), ["ping localhost"])  # by its own name, no interpreter
        self.assertEqual(fx.events(host.journal(), "create_vm"), [])

    def test_ctrl_c_during_jvm_creation_never_launches_the_agent(self):
        events = fx.EventCapture()
        # A real JVM's handler takes an interrupt during its creation (see the
        # README): without it, the host's own answer shows.
        host = DebugHost("stop_in_create", create_ms=3000, console_handler=0, env=EVENTS_SHOWN)
        host.wait_for("create_vm")
        host.ctrl_c()
        self.assertEqual(host.finish(), 0)
        self.assertEqual((host.stdout, events.split(host.stderr)), (STOPPING, ([], [])))
        journal = host.journal()
        self.assertEqual(fx.events(journal, "main_entered"), [])
        self.assertEqual(fx.events(journal, "cleanup_entered"), [])

    def test_second_ctrl_c_while_cleanup_runs_ends_the_run_at_once(self):
        host = DebugHost("ctrl_c_twice", cleanup_ms=20000)
        host.wait_for("main_entered")
        host.ctrl_c()
        host.wait_for("cleanup_entered")
        began = time.monotonic()
        host.ctrl_c()
        self.assertEqual(host.finish(), 0)
        self.assertLess(time.monotonic() - began, 10)
        self.assertEqual(host.stdout, STOPPING + "Ending Korvane Quorvex Agent at once, without waiting for the "
                         "agent's cleanup.\n")
        journal = host.journal()
        self.assertEqual(len(fx.events(journal, "cleanup_entered")), 1)
        self.assertEqual(fx.events(journal, "cleanup_returned"), [])
        self.assertEqual(fx.events(journal, "jvm_console_event"), [])

    def test_ctrl_c_with_a_cleanup_that_never_returns_ends_at_the_limit(self):
        events = fx.EventCapture()
        host = DebugHost("hung_cleanup", cleanup_ms="never", env=EVENTS_SHOWN)
        host.wait_for("main_entered")
        began = time.monotonic()
        host.ctrl_c()
        self.assertEqual(host.finish(timeout=fx.CLEANUP_LIMIT_S + 30), 0)
        self.assertGreater(time.monotonic() - began, fx.CLEANUP_LIMIT_S - 5)
        self.assertEqual(host.stdout, STOPPING + "Cleanup given up: the agent's cleanup did not return within %d s.\n"
                         % fx.CLEANUP_LIMIT_S)
        texts, others = events.split(host.stderr)
        self.assertEqual(([fx.event_text_matches(t, fx.CLEANUP_GIVEN_UP) for t in texts], others), ([True], []), texts)
        self.assertEqual(fx.events(host.journal(), "cleanup_returned"), [])


GIVEN_UP = "Start given up: "
KEY = '"HKEY_LOCAL_MACHINE\\%s"' % fx.APP_PATHS_KEY.split("\\", 1)[1]
NO_PATH_VALUE = GIVEN_UP + 'the registry key %s has no "Path" value' % KEY
LONG_NAME = "x" * 1100
SYSTEM_FOLDER = "C:\\windows\\system32"


def register_value(name, data_of=winetest.windows_path, kind="REG_SZ"):
    """A register function for DebugHost: one App Paths value from the folder."""
    return lambda folder: fx.set_app_paths_value(name, data_of(folder), kind)


def path_bytes(folder):
    return winetest.windows_path(folder).encode("latin-1")


def directory(host):
    return winetest.windows_path(host.install)


def jvm_path(host):
    return directory(host) + "\\jre\\bin\\server\\jvm.dll"


def journal_is_empty(test, host):
    test.assertEqual(host.journal(), [])


def root_jre():  # \jre of the work folders' drive, where an empty Path value leads
    if winetest.ON_WINDOWS:
        return os.path.splitdrive(os.path.abspath(os.environ["OSTRAD_TEST_WORK"]))[0] + "\\jre"
    return os.path.join(os.environ["WINEPREFIX"], "drive_c", "jre")


def relative_path_case(value):
    """A row: that Path value, a recording jvm.dll in the (current) work folder and \\jre\\bin."""
    def register(folder):
        fx.plant_in(os.path.dirname(folder))
        shutil.rmtree(root_jre(), ignore_errors=True)  # no marker of an earlier run
        os.makedirs(os.path.join(root_jre(), "bin"))
        shutil.copyfile(os.environ["PLANTED_JVM_DLL"], os.path.join(root_jre(), "bin", "jvm.dll"))
        return fx.set_app_paths_value("Path", value)

    def no_recording_jvm_ran(test, host):
        ran = fx.planted_that_ran(host.work) + fx.planted_that_ran(os.path.join(root_jre(), "bin"))
        shutil.rmtree(root_jre())
        test.assertEqual((ran, host.journal()), ([], []))
    return ("Path value %r" % value, dict(register=register), lambda host: (
        GIVEN_UP + 'the "Path" value of the registry key %s is not a fully qualified folder '
        '(X:\\... or \\\\server\\share\\...): "%s"' % (KEY, value)), no_recording_jvm_ran)


def loaded_library_only(test, host):
    test.assertEqual(len(fx.events(host.journal(), "dll_loaded", name="jvm_noentry")), 1)
    test.assertEqual(fx.events(host.journal(), "create_vm"), [])


def creation_refused(test, host):
    test.assertEqual(fx.events(host.journal(), "create_vm_result")[0]["result"], "-1")


def exception_described_and_cleared(test, host):
    """The lookup's exception was taken, cleared before any other JNI call,
    and the agent thread detached with nothing pending."""
    journal = host.journal()
    test.assertEqual(fx.events(journal, "call_with_pending_exception"), [])
    test.assertGreaterEqual(len(fx.events(journal, "exception_clear")), 1)
    main_lookup = (fx.events(journal, "find_class", name=AGENT, found=0) or
                   fx.events(journal, "get_static_method", name="main"))[0]
    detach = [e for e in fx.events(journal, "detach") if e["tid"] == main_lookup["tid"]]
    test.assertEqual([e["pending_exception"] for e in detach], ["0"])


JVM_REFUSAL = "Invalid thread stack size: -Xss1k."  # the stand-in's reason, through the vfprintf hook


# Every way the start is given up (or the agent not started) in the
# foreground: (case, DebugHost arguments, the one event text as a function of
# the host (see fx.event_text_matches), a further check of the journal).
GIVEN_UP_CASES = [
    ("missing App Paths key", dict(register=None),
     lambda host: (GIVEN_UP + "the registry key %s cannot be opened - " % KEY, 0x2, ""), journal_is_empty),
    ("key with only the unnamed default value", dict(register=register_value(None)),
     lambda host: NO_PATH_VALUE, journal_is_empty),
    ('value named "path"', dict(register=register_value("path")), lambda host: NO_PATH_VALUE, journal_is_empty),
    ('value named "PATH"', dict(register=register_value("PATH")), lambda host: NO_PATH_VALUE, journal_is_empty),
    ("Path value too long for its buffer",
     dict(register=register_value("Path", lambda folder: winetest.windows_path(folder) + "\\" + LONG_NAME)),
     lambda host: GIVEN_UP + 'the "Path" value of the registry key %s holds %d bytes, more than its 1024-byte buffer'
     % (KEY, len(directory(host)) + 1 + len(LONG_NAME) + 1), journal_is_empty),
    ("Path value without its terminating zero",
     dict(register=register_value("Path", lambda folder: path_bytes(folder).hex(), "REG_BINARY")),
     lambda host: GIVEN_UP + 'the "Path" value of the registry key %s has no terminating zero in its %d bytes: "%s"'
     % (KEY, len(directory(host)), directory(host)), journal_is_empty),
    ("missing jvm library", dict(dll=None),
     lambda host: (GIVEN_UP + 'the library "jvm" cannot be loaded - ', 0x7e,
                   "; searched: {0};{0}\\jre\\bin;{0}\\jre\\bin\\server".format(directory(host))), None),
    relative_path_case(""),
    relative_path_case("."),
    ("jvm library that cannot be examined (a name the system refuses)",
     dict(register=register_value("Path", lambda folder: winetest.windows_path(folder) + "\\a|b")),
     lambda host: (GIVEN_UP + 'the library "%s\\a|b\\jvm.dll" cannot be examined - ' % directory(host), 0x7b, ""),
     journal_is_empty),
    ("no ping in the system folder", dict(ping_status=None),
     lambda host: (GIVEN_UP + 'the program "%s\\PING.EXE" cannot be started - ' % SYSTEM_FOLDER, 0x2, ""),
     journal_is_empty),
    ("32-bit jvm library", dict(dll="i386"),
     lambda host: GIVEN_UP + 'the library "{0}" cannot be loaded - {1} (0xc1)'.format(
         jvm_path(host), ("%s is not a valid Win32 application." if winetest.ON_WINDOWS else "Bad EXE format for %s.")
         % jvm_path(host)), None),
    ("library without the creation entry", dict(dll="noentry"),
     lambda host: GIVEN_UP + 'the library "%s" has no entry point "JNI_CreateJavaVM"'
     % fx.events(host.journal(), "dll_loaded")[0]["text"], loaded_library_only),
    ("JVM creation refused", dict(scenario="refuse"),
     lambda host: GIVEN_UP + "JNI_CreateJavaVM returned -1 (JNI_ERR) - the JVM's last messages: " + JVM_REFUSAL,
     creation_refused),
    ("missing agent class", dict(scenario="no_class"),
     lambda host: "The agent did not start: class %s not found - java.lang.NoClassDefFoundError: %s" % (AGENT, AGENT),
     exception_described_and_cleared),
    ("agent class without main", dict(scenario="no_main"),
     lambda host: "The agent did not start: class %s has no static method main with signature ([Ljava/lang/String;)V"
     " - java.lang.NoSuchMethodError: static L%s;.main([Ljava/lang/String;)V" % (AGENT, AGENT),
     exception_described_and_cleared),
]


class StartGivenUp(unittest.TestCase):
    """Each ends the run by itself with status 0, a console silent but for the
    JVM's own messages, and one error event naming its cause."""

    def tearDown(self):
        fx.unregister_installation()
        fx.restore_system_ping()

    def test_each_cause_ends_the_run_with_its_one_event(self):
        for index, (case, arguments, expected_text, check) in enumerate(GIVEN_UP_CASES):
            with self.subTest(case):
                events = fx.EventCapture()
                host = DebugHost("given_up_%d" % index, env={"WINEDEBUG": fx.EVENTLOG_WINEDEBUG}, **arguments)
                self.assertEqual(host.finish(), 0)
                self.assertEqual(host.stdout, "")
                texts, others = events.split(host.stderr)
                self.assertEqual(others, [JVM_REFUSAL] if arguments.get("scenario") == "refuse" else [])
                self.assertEqual(len(texts), 1, texts)
                expected = expected_text(host)
                self.assertTrue(fx.event_text_matches(texts[0], expected), "%r\n%r" % (texts[0], expected))
                self.assertEqual(fx.events(host.journal(), "main_entered"), [])
                if check:
                    check(self, host)

    def test_the_event_is_an_error_with_one_string_from_the_message_table(self):
        events = fx.EventCapture()
        # Under Wine the event log functions are stubs that trace their arguments;
        # Windows keeps the event itself.
        host = DebugHost("event_call", scenario="refuse", env={"WINEDEBUG": "-all,fixme+advapi"})
        self.assertEqual(host.finish(), 0)
        if winetest.ON_WINDOWS:
            written = [e for e in fx.read_application_events(events.mark) if e["level"] == 2]  # warnings aside
            self.assertEqual([(e["level"], e["qualifiers"], e["id"], len(e["strings"])) for e in written],
                             [(2, 0xC000, 1, 1)])  # error, the message 0xC0000001, one string
            return
        calls = [line.split(":", 3)[-1] for line in host.stderr.splitlines() if ":fixme:advapi:" in line]
        # RegisterEventSourceW, ReportEventW (UTF-16 text), DeregisterEventSource, in this order.
        self.assertRegex(calls[0], r'^RegisterEventSourceW \(\(null\),L"KorvaneQuorvexAgent"\)')
        report = [call for call in calls if call.startswith("ReportEventW ")]
        self.assertEqual(len(report), 1, calls)
        # handle, type EVENTLOG_ERROR_TYPE, category 0, the message's id, no SID, one string, no data
        fields = report[0][len("ReportEventW ("):].split(",")
        self.assertEqual(fields[1:7], ["0x0001", "0x0000", "0xc0000001", "0000000000000000", "0x0001", "0x00000000"])
        self.assertTrue(calls[-1].startswith("DeregisterEventSource"), calls)


if __name__ == "__main__":
    unittest.main()
