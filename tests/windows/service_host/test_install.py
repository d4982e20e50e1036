"""Ostrad -i / -r / -ri under Wine's Service Control Manager: the
registration read back through the SCM and the registry, the console texts of
every outcome, and that nothing is left running."""
import os
import re
import shutil
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import ostrad_fixture as fx  # noqa: E402
import service_helpers as sh  # noqa: E402
import winetest  # noqa: E402

INSTALLED, REMOVED, STOPPED_AND_REMOVED = fx.INSTALLED, fx.REMOVED, fx.STOPPED_AND_REMOVED
NOT_PRESENT = re.compile(r"Service not present - \S.* \(0x424\)\n\Z")
# Removal of a service whose cleanup takes seconds: a dot each second of stop pending.
SLOWLY_STOPPED_AND_REMOVED = re.compile(r"\AStopping %s\.\.{2,}\n%s stopped\.\n%s\Z" % (
    re.escape(sh.DISPLAY), re.escape(sh.DISPLAY), re.escape(REMOVED)))


def own_event_source():
    """The event source as installation registers it: the program itself holds the messages."""
    return {"EventMessageFile": ("REG_EXPAND_SZ", winetest.windows_path(os.environ["OSTRAD_EXE"])),
            "TypesSupported": ("REG_DWORD", "0x7")}


class Install(sh.ServiceTestCase, unittest.TestCase):
    def test_install_registers_describes_and_starts_then_remove_stops_and_deletes(self):
        self.make_installation("install")
        self.assertIsNone(sh.event_source())
        status, out, seconds = sh.ostrad("-i")
        self.assertEqual((status, out), (0, INSTALLED))
        self.assertGreaterEqual(seconds, 2.0)  # the pause after installation

        registration = sh.config()
        self.assertEqual(registration["type"], "0x110")
        self.assertEqual(registration["start"], "2")
        self.assertEqual(registration["error_control"], "1")
        self.assertEqual(registration["binary"], '"%s"' % winetest.windows_path(os.environ["OSTRAD_EXE"]))
        self.assertEqual(registration["account"], "LocalSystem")
        self.assertEqual(registration["display"], sh.DISPLAY)
        if winetest.SC_HAS_QC:  # what the README tells an administrator to check
            code, text = winetest.sc("qc", sh.SERVICE)
            self.assertEqual(code, 0)
            self.assertRegex(text, r"BINARY_PATH_NAME\s*: %s\n" % re.escape(registration["binary"]))
        if winetest.SCM_KEEPS_FAILURE_ACTIONS:  # a failed service is restarted twice, a minute apart
            code, text = winetest.sc("qfailure", sh.SERVICE)
            self.assertEqual(code, 0, text)
            self.assertRegex(text, r"RESET_PERIOD \(in seconds\)\s*:\s*86400\s")
            self.assertEqual(len(re.findall(r"RESTART -- Delay = 60000 milliseconds", text)), 2, text)
            code, text = winetest.sc("qfailureflag", sh.SERVICE)
            self.assertEqual(code, 0, text)
            self.assertRegex(text, r"FAILURE_ACTIONS_ON_NONCRASH_FAILURES\s*:\s*TRUE")
        code, text = winetest.reg("query", sh.SERVICE_KEY, "/v", "Description")
        self.assertEqual(code, 0)
        self.assertRegex(text, r"Description\s+REG_SZ\s+%s\n" % re.escape(sh.DESCRIPTION))
        code, lines = sh.scprobe("descsize", sh.SERVICE)
        self.assertEqual(lines[0]["line"], "type=1 size=%d" % (len(sh.DESCRIPTION) + 1))  # zero counted
        self.assertEqual(sh.event_source(), own_event_source())

        self.assertEqual(sh.wait_for_state(sh.RUNNING, 30)[0], sh.RUNNING)
        self.assertTrue(fx.wait_for_event(self.install, "main_entered", 10))
        status, out, _ = sh.ostrad("-r")
        self.assertEqual((status, out), (0, STOPPED_AND_REMOVED))
        self.assertEqual(len(fx.events(self.journal(), "cleanup_returned")), 1)
        self.assertIsNone(sh.status())
        self.assertIsNone(sh.event_source())
        self.assert_no_process_left()

    def test_install_from_a_folder_users_may_change_warns_and_still_installs(self):
        self.make_installation("install-open")
        folder = os.path.join(self.work, "open")
        os.makedirs(folder)
        fx.let_users_change(folder)
        program = os.path.join(folder, "Ostrad.exe")
        shutil.copyfile(os.environ["OSTRAD_EXE"], program)
        out = winetest.text(winetest.run([program, "-i"], timeout=120).stdout)
        warning = ('Warning: %s may change "%s", which the service runs as LocalSystem; let only administrators '
                   "change it (see the README).\n" % (fx.USERS_GROUP, winetest.windows_path(folder)))
        self.assertTrue(out.startswith(INSTALLED) and warning in out, out)
        if not winetest.ON_WINDOWS:  # Windows adds what the checkout's folders grant
            self.assertEqual(out, INSTALLED + warning)
        self.assertEqual(sh.wait_for_state(sh.RUNNING, 30)[0], sh.RUNNING)

    def test_install_when_present_fails_with_service_exists_and_pauses(self):
        self.make_installation("install-twice", scenario="refuse")
        self.assertEqual(sh.ostrad("-i")[:2], (0, INSTALLED))
        status, out, seconds = sh.ostrad("/I")
        self.assertEqual(status, 0)
        self.assertRegex(out, r"\ACreateService failed - \S.* \(0x431\)\n\Z")
        self.assertGreaterEqual(seconds, 2.0)
        self.assertEqual(sh.config()["display"], sh.DISPLAY)  # the first registration stays


class Remove(sh.ServiceTestCase, unittest.TestCase):
    def test_remove_when_absent_says_service_not_present(self):
        # An event source without its service is not removal's to delete.
        winetest.reg("add", sh.EVENT_SOURCE_KEY, "/v", "TypesSupported", "/t", "REG_DWORD", "/d", "7", "/f")
        for option in ("-r", "/UNREGSERVER"):
            status, out, seconds = sh.ostrad(option)
            self.assertEqual(status, 0)
            self.assertRegex(out, NOT_PRESENT)
            self.assertLess(seconds, 2.0, "removal has no pause")
        self.assertEqual(sh.event_source(), {"TypesSupported": ("REG_DWORD", "0x7")})

    def test_remove_of_a_stopped_service_prints_no_stopping_line(self):
        # A refused JVM start leaves the service stopped by itself.
        self.make_installation("remove-stopped", scenario="refuse")
        self.assertEqual(sh.ostrad("-i")[:2], (0, INSTALLED))
        self.assertEqual(sh.wait_for_state(sh.STOPPED, 30)[0], sh.STOPPED)
        self.assertEqual(sh.ostrad("-UnRegServer")[:2], (0, REMOVED))
        # Reported stopped, its process may still be sounding the low tone: the
        # SCM deletes the service once that process has ended.
        self.assertTrue(winetest.wait_until(lambda: sh.status() is None, 5, interval=0.2), sh.status())
        self.assert_no_process_left()

    def test_remove_waits_for_a_slow_cleanup(self):
        self.make_installation("remove-slow", cleanup_ms=4000)
        self.assertEqual(sh.ostrad("-i")[:2], (0, INSTALLED))
        self.assertEqual(sh.wait_for_state(sh.RUNNING, 30)[0], sh.RUNNING)
        status, out, seconds = sh.ostrad("-r")
        self.assertEqual(status, 0)
        self.assertRegex(out, SLOWLY_STOPPED_AND_REMOVED)
        self.assertGreaterEqual(seconds, 4.0)
        journal = self.journal()
        self.assertEqual(len(fx.events(journal, "cleanup_entered")), 1)
        self.assertEqual(len(fx.events(journal, "cleanup_returned")), 1)
        self.assert_no_process_left()

    def test_remove_while_starting_waits_for_the_start_then_stops_and_deletes(self):
        # The first probe fails, so the start stays pending through a 10 s
        # pause, well past install's 2 s; the SCM refuses a stop until then.
        self.make_installation("remove-starting")
        sh.install_service_ping(self.work)
        self.assertEqual(sh.ostrad("-i")[:2], (0, INSTALLED))
        self.assertEqual(sh.status()[0], sh.START_PENDING)
        status, out, _ = sh.ostrad("-r")
        self.assertEqual(status, 0)
        self.assertRegex(out, r"\A\.+\n%s\Z" % re.escape(STOPPED_AND_REMOVED))
        self.assertEqual(len(fx.events(self.journal(), "cleanup_returned")), 1)
        self.assertIsNone(sh.status())  # deleted, not left marked for deletion
        self.assert_no_process_left()
        self.assertEqual(sh.ostrad("-i")[:2], (0, INSTALLED))

    def test_cleanup_beyond_the_control_timeout_is_waited_for(self):
        # The SCM gives a control 10 s under Wine, 30 s on Windows; the stop
        # control does not wait for cleanup, so a longer one is no failure.
        self.make_installation("remove-very-slow", cleanup_ms=(winetest.SCM_CONTROL_TIMEOUT_S + 3) * 1000)
        self.assertEqual(sh.ostrad("-i")[:2], (0, INSTALLED))
        self.assertEqual(sh.wait_for_state(sh.RUNNING, 30)[0], sh.RUNNING)
        status, out, _ = sh.ostrad("-r")
        self.assertEqual(status, 0)
        self.assertRegex(out, SLOWLY_STOPPED_AND_REMOVED)
        self.assertEqual(len(fx.events(self.journal(), "cleanup_returned")), 1)
        # Deleted once its process has ended, a moment after the stopped report.
        self.assertTrue(winetest.wait_until(lambda: sh.status() is None, 5, interval=0.2), sh.status())
        self.assert_no_process_left()


class Reinstall(sh.ServiceTestCase, unittest.TestCase):
    def test_reinstall_removes_to_the_end_then_installs(self):
        self.make_installation("reinstall")
        status, out, _ = sh.ostrad("-Ri")  # nothing to remove: installation goes on all the same
        self.assertEqual(status, 0)
        self.assertTrue(out.endswith(INSTALLED), out)
        self.assertRegex(out[:-len(INSTALLED)], NOT_PRESENT)
        self.assertEqual(sh.wait_for_state(sh.RUNNING, 30)[0], sh.RUNNING)

        status, out, _ = sh.ostrad("/REGSERVER")
        self.assertEqual((status, out), (0, STOPPED_AND_REMOVED + INSTALLED))
        self.assertEqual(len(sh.event_source_keys()), 1)
        self.assertEqual(sh.event_source(), own_event_source())
        self.assertEqual(sh.wait_for_state(sh.RUNNING, 30)[0], sh.RUNNING)
        self.assertTrue(winetest.wait_until(lambda: len(fx.events(self.journal(), "main_entered")) == 2, 10))
        journal = self.journal()
        first, second = fx.events(journal, "main_entered")
        self.assertNotEqual(first["pid"], second["pid"])
        cleanup = fx.events(journal, "cleanup_returned")
        self.assertEqual([e["pid"] for e in cleanup], [first["pid"]])
        self.assertLess(cleanup[0]["ms"], second["ms"])


if __name__ == "__main__":
    unittest.main()
