"""Helpers for the tests of Ostrad.exe: a sample installation with the
stand-in jvm.dll (tests/windows/service_host/fake_jvm, see its README for the
scenario file and the journal), its App Paths registration, the journal
reader, a stand-in for the system's ping and files planted where the host starts.

Environment (set by tests/windows/service_host/CMakeLists.txt):
  OSTRAD_EXE, FAKE_JVM_DLL, NOENTRY_JVM_DLL, PLANTED_JVM_DLL, OSTRAD_TEST_WORK
  (scratch folder).
"""
import os
import re
import shutil
import unittest
import xml.etree.ElementTree as ElementTree

import pe_image
import winetest

APP_PATHS_KEY = r"HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\Pelmora"
AGENT_CLASS = "com/torvik/pravend/coralind/agent/ManagementAgent"
SCENARIOS = ("blocking", "returns", "no_cleanup", "no_main", "no_class", "refuse", "attach_fails", "main_throws",
             "cleanup_throws", "gives_up", "exits")
TUNABLES = ("create_ms", "cleanup_ms", "main_ms", "console_handler", "main_message", "exit_status", "output_bytes")

# Ostrad's console lines, as its tests expect them.
STOPPING = "Stopping Korvane Quorvex Agent.\n"
# A stop gives the agent's cleanup this long, then ends without it.
CLEANUP_LIMIT_S = 90
CLEANUP_GIVEN_UP = ("The agent's cleanup was given up: %s.cleanup did not return within %d s; "
                    "the service ended without it" % (AGENT_CLASS, CLEANUP_LIMIT_S))
INSTALLED = "Korvane Quorvex Agent installed.\nService started.\n"
REMOVED = "Korvane Quorvex Agent removed.\n"
STOPPED_AND_REMOVED = STOPPING + "Korvane Quorvex Agent stopped.\n" + REMOVED

JVM_FOLDER = os.path.join("jre", "bin", "server")
JOURNAL_NAME = "fake_jvm.log"
CONFIG_NAME = "fake_jvm.cfg"


def ostrad_exe():
    return os.environ["OSTRAD_EXE"]


def work_folder(name):
    """A fresh, empty scratch folder OSTRAD_TEST_WORK/<name>."""
    folder = os.path.join(os.environ.get("OSTRAD_TEST_WORK", "/tmp/ostrad-test-work"), name)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    return folder


def agent_output_log(generation=0):
    """logs\\agent-output.log beside Ostrad.exe (generation 0), or its old file n."""
    name = "agent-output.log" if generation == 0 else "agent-output.%d.log" % generation
    return os.path.join(os.path.dirname(ostrad_exe()), "logs", name)


def make_installation(folder, scenario=None, dll="fake", **tunables):
    """Lays out a sample installation in folder (emptied first): ostrel.jar
    and Brantic.jar placeholders and jre\\bin\\server\\jvm.dll, which is the
    stand-in JVM (dll="fake"), the DLL without JNI_CreateJavaVM
    (dll="noentry"), a 32-bit DLL (dll="i386") or missing (dll=None). The scenario file beside the DLL
    names the scenario (None: the default, "blocking") and the tunables
    create_ms, cleanup_ms, main_ms (milliseconds), console_handler (0: the JVM
    registers none) and those that fake_jvm/README.md lists. Returns folder."""
    if scenario is not None and scenario not in SCENARIOS:
        raise ValueError("unknown scenario %r" % scenario)
    for key in tunables:
        if key not in TUNABLES:
            raise ValueError("unknown tunable %r" % key)
    shutil.rmtree(folder, ignore_errors=True)
    jvm_folder = os.path.join(folder, JVM_FOLDER)
    os.makedirs(jvm_folder)
    for jar in ("ostrel.jar", "Brantic.jar"):
        with open(os.path.join(folder, jar), "wb") as placeholder:
            placeholder.write(b"PK\x05\x06" + b"\0" * 18)  # an empty zip archive
    sources = {"fake": "FAKE_JVM_DLL", "noentry": "NOENTRY_JVM_DLL"}
    if dll == "i386":
        with open(os.path.join(jvm_folder, "jvm.dll"), "wb") as library:
            library.write(pe_image.minimal_i386_dll())
    elif dll is not None:
        shutil.copyfile(os.environ[sources[dll]], os.path.join(jvm_folder, "jvm.dll"))
    lines = []
    if scenario is not None:
        lines.append("scenario=%s" % scenario)
    lines += ["%s=%s" % (key, value if isinstance(value, str) else int(value))
              for key, value in sorted(tunables.items())]
    if lines:
        with open(os.path.join(jvm_folder, CONFIG_NAME), "w", encoding="utf-8") as config:
            config.write("\n".join(lines) + "\n")
    return folder


def set_app_paths_value(name, data, kind="REG_SZ"):
    """Writes one value of the App Paths key, creating the key (name None:
    the unnamed default value). Returns reg.exe's exit code."""
    target = ["/ve"] if name is None else ["/v", name]
    code, _ = winetest.reg("add", APP_PATHS_KEY, *target, "/t", kind, "/d", data, "/f")
    return code


def register_installation(folder):
    """Points the App Paths key's "Path" value (REG_SZ) at folder, as the
    product's installer does. Raises when reg.exe fails."""
    if set_app_paths_value("Path", winetest.windows_path(folder)) != 0:
        raise RuntimeError("reg add of the App Paths key failed")


def unregister_installation():
    """Deletes the App Paths key with all its values (no error when absent)."""
    winetest.reg("delete", APP_PATHS_KEY, "/f")


def journal_path(folder):
    return os.path.join(folder, JVM_FOLDER, JOURNAL_NAME)


def parse_journal_line(line):
    """One journal line as a dict: "ms" (float), "pid", "tid" (int), "event"
    and the event's key=value fields as strings; "text" (the only field that
    may hold spaces) runs to the end of the line."""
    line = line.rstrip("\r\n")
    head, separator, text = line.partition(" text=")
    words = head.split(" ")
    event = {"ms": float(words[0]), "pid": int(words[1][len("pid="):]),
             "tid": int(words[2][len("tid="):]), "event": words[3]}
    for word in words[4:]:
        key, _, value = word.partition("=")
        event[key] = value
    if separator:
        event["text"] = text
    return event


def read_journal(folder):
    """Every event that the stand-in JVM (or the no-entry DLL) of the
    installation in folder has journaled, oldest first ([] when none)."""
    try:
        with open(journal_path(folder), encoding="latin-1", newline="") as journal:
            return [parse_journal_line(line) for line in journal if line.strip()]
    except FileNotFoundError:
        return []


def events(journal, name, /, **fields):
    """The events of a journal named name whose fields equal the given ones
    (values compared as strings)."""
    return [e for e in journal if e["event"] == name
            and all(e.get(key) == str(value) for key, value in fields.items())]


def wait_for_event(folder, name, timeout, /, **fields):
    """Polls the journal until an event named name (with those fields)
    appears; returns the first such event, or None after timeout seconds."""
    def found():
        matching = events(read_journal(folder), name, **fields)
        return matching[0] if matching else None
    return winetest.wait_until(found, timeout, interval=0.1)


def jvm_options(journal):
    """The option strings JNI_CreateJavaVM received, in index order."""
    options = events(journal, "option")
    return [e["text"] for e in sorted(options, key=lambda e: int(e["index"]))]


# The host runs the system folder's PING.EXE by its full path. Under Wine a
# test replaces system32\\ping.exe of its own prefix with the stand-in
# (service_host/ping_standin.cpp, built beside Ostrad.exe), which Wine runs
# instead of its builtin ping only with a DLL override (in the registry, so
# that services read it too). Windows' own cannot be replaced.
PING_OVERRIDE = (r"HKCU\Software\Wine\DllOverrides", "/v", "ping.exe")


def _system32(name):
    return os.path.join(os.environ["WINEPREFIX"], "drive_c", "windows", "system32", name)


def use_ping_standin(status=0, once_marker=None):
    """The probe's ping exits with status (0: answered; None: there is no
    system32\\ping.exe at all); with once_marker (a path) only until its first
    run has created that file. On Windows the system's ping answers; a test
    that needs another status is skipped."""
    if winetest.ON_WINDOWS:
        if status == 0 and once_marker is None:
            return
        raise unittest.SkipTest("a failing ping needs the stand-in in the system folder, "
                                "which a test can replace only in its Wine prefix")
    if not os.path.exists(_system32("ping.exe.wine")):
        shutil.copyfile(_system32("ping.exe"), _system32("ping.exe.wine"))
        winetest.reg("add", *PING_OVERRIDE, "/d", "native", "/f")
    if status is None:
        os.remove(_system32("ping.exe"))
        return
    shutil.copyfile(os.path.join(os.path.dirname(ostrad_exe()), "ping_standin.exe"), _system32("ping.exe"))
    with open(_system32("ping_standin.cfg"), "w") as config:
        config.write("status=%d\nonce_marker=%s\n" % (status, winetest.windows_path(once_marker) if once_marker else ""))
    if os.path.exists(_system32("ping_runs.txt")):
        os.remove(_system32("ping_runs.txt"))


def restore_system_ping():
    """Puts the system's own ping back, if it was replaced."""
    if not winetest.ON_WINDOWS and os.path.exists(_system32("ping.exe.wine")):
        winetest.reg("delete", *PING_OVERRIDE, "/f")
        os.replace(_system32("ping.exe.wine"), _system32("ping.exe"))


def ping_runs():
    """The command lines of the stand-in ping's runs since use_ping_standin."""
    if not os.path.exists(_system32("ping_runs.txt")):
        return []
    with open(_system32("ping_runs.txt"), encoding="latin-1") as runs:
        return [line.rstrip("\n") for line in runs if line.strip()]


SEARCH_PROBE = "jvm_search_probe.dll"  # the library the stand-in JVM loads by its bare name
WINE_SEARCHES_CURRENT_FOLDER = 'Wine ignores SetDllDirectoryW(L""): its current folder stays in the DLL search'


def let_users_change(folder, mode=0o777):
    """Lets USERS_GROUP change folder: mode under Wine, also an icacls grant on Windows."""
    if winetest.ON_WINDOWS:
        assert winetest.run(["icacls", folder, "/grant", "*S-1-5-32-545:(OI)(CI)(M)"]).returncode == 0
    os.chmod(folder, mode)


USERS_GROUP = "Users" if winetest.ON_WINDOWS else "Everyone"


def plant_in(folder):
    """Someone else's jvm.dll and ping.cmd in folder (on Windows also the
    stand-in JVM's SEARCH_PROBE), each leaving planted_*_ran.txt when it runs."""
    shutil.copyfile(os.environ["PLANTED_JVM_DLL"], os.path.join(folder, "jvm.dll"))
    if winetest.ON_WINDOWS:
        shutil.copyfile(os.environ["PLANTED_JVM_DLL"], os.path.join(folder, SEARCH_PROBE))
    with open(os.path.join(folder, "ping.cmd"), "w", newline="\r\n") as cmd:
        cmd.write('@echo.>"%~dp0planted_ping_ran.txt"\n@exit /b 0\n')


def planted_that_ran(folder):
    return sorted(name for name in os.listdir(folder) if name.startswith("planted_") and name.endswith("_ran.txt"))


# With this WINEDEBUG, Wine's ReportEventW writes each error event's text to
# the process's standard error, and nothing else is written there: one line
# "[<tid>:]err:eventlog:ReportEventW L"<text>"". With WARNINGS_WINEDEBUG,
# warning events too ("warn:eventlog"), which split_event_lines leaves out.
EVENTLOG_WINEDEBUG = "-all,err+eventlog"
WARNINGS_WINEDEBUG = "-all,err+eventlog,warn+eventlog"
_EVENT_LINE = re.compile(r'^(?:[0-9a-f]+:)?err:eventlog:ReportEventW L"(.*)"(\.\.\.)?$')
_WARNING_LINE = re.compile(r'^(?:[0-9a-f]+:)?warn:eventlog:ReportEventW L"(.*)"(\.\.\.)?$')
_ESCAPES = {"n": "\n", "r": "\r", "t": "\t", '"': '"', "\\": "\\"}


def _unescape(body):
    """Wine's debug form of a wide string: \\n, \\r, \\t, \\", \\\\ and
    \\XXXX (four hex digits) for other characters outside ASCII's printable range."""
    text, i = [], 0
    while i < len(body):
        if body[i] == "\\" and body[i + 1] in _ESCAPES:
            text.append(_ESCAPES[body[i + 1]])
            i += 2
        elif body[i] == "\\":
            text.append(chr(int(body[i + 1:i + 5], 16)))
            i += 5
        else:
            text.append(body[i])
            i += 1
    # A character beyond 16 bits comes as its two surrogates.
    return "".join(text).encode("utf-16-le", "surrogatepass").decode("utf-16-le")


def split_event_lines(stderr):
    """Standard error text (written under EVENTLOG_WINEDEBUG) as (event texts,
    other lines). Each event text is (text, cut) as Wine printed it: see
    wine_shown_text for where Wine cuts and when it says so."""
    texts, others = [], []
    for line in stderr.splitlines():
        match = _EVENT_LINE.match(line)
        if match:
            texts.append((_unescape(match.group(1)), match.group(2) is not None))
        elif line.strip() and not _WARNING_LINE.match(line):
            others.append(line)
    return texts, others


def wine_shown_text(text):
    """(text, cut) as Wine's trace shows a wide string: escaped into 300 bytes
    after 'L"' while at most 290 are used, "..." only when two or more
    characters are left out (one goes unmarked)."""
    used, shown = 2, 0
    while shown < len(text) and used <= 290:
        c = text[shown]
        used += 2 if c in _ESCAPES.values() else 5 if c < " " or c >= "\x7f" else 1
        shown += 1
    return text[:shown], len(text) - shown >= 2


EVENT_SOURCE = "KorvaneQuorvexAgent"
_EVENT_NS = "{http://schemas.microsoft.com/win/2004/08/events/event}"


def read_application_events(after_record=0):
    """Windows only: the Application log's events of the service's source with
    a record number above after_record, oldest first, each as a dict: record,
    id (the event id's low 16 bits), qualifiers, level (2: error) and strings."""
    query = "*[System[Provider[@Name='%s'] and (EventRecordID>%d)]]" % (EVENT_SOURCE, after_record)
    result = winetest.run(["wevtutil", "qe", "Application", "/q:" + query, "/f:xml", "/e:Events"], timeout=60)
    events = []
    for event in ElementTree.fromstring(winetest.text(result.stdout) or "<Events/>"):
        system = event.find(_EVENT_NS + "System")
        event_id = system.find(_EVENT_NS + "EventID")
        events.append({"record": int(system.find(_EVENT_NS + "EventRecordID").text),
                       "id": int(event_id.text), "qualifiers": int(event_id.get("Qualifiers", "0")),
                       "level": int(system.find(_EVENT_NS + "Level").text),
                       "strings": [data.text or "" for data in event.iter(_EVENT_NS + "Data")]})
    return events


class EventCapture:
    """The error events written while a test runs, on both kinds of host.
    Under Wine, ReportEventW shows each on the writing process's standard error
    (run it with WINEDEBUG=EVENTLOG_WINEDEBUG); on Windows they are read back
    from the Application log, newer than when the capture was made."""

    def __init__(self):
        self.mark = 0
        if winetest.ON_WINDOWS:
            self.mark = max([e["record"] for e in read_application_events()], default=0)

    def split(self, stderr):
        """(event texts, other lines of stderr), as split_event_lines gives them."""
        texts, others = split_event_lines(stderr)
        if winetest.ON_WINDOWS:
            # Errors only: a start on Windows may also warn of the checkout's folders.
            texts = [(" ".join(e["strings"]), False) for e in read_application_events(self.mark) if e["level"] == 2]
        return texts, others

    def warnings(self, stderr):
        """The warning events' texts (under Wine: stderr under WARNINGS_WINEDEBUG)."""
        if winetest.ON_WINDOWS:
            return [" ".join(e["strings"]) for e in read_application_events(self.mark) if e["level"] == 3]
        return [_unescape(match.group(1)) for match in map(_WARNING_LINE.match, stderr.splitlines()) if match]


def event_text_matches(seen, expected):
    """seen: (text, cut) from EventCapture.split. expected: a whole text, or
    (before, code, after) for before + "<the system's text> (0x<code>)" + after.
    Under Wine, seen must be exactly what Wine shows of the expected text."""
    text, _ = seen
    if isinstance(expected, tuple):
        before, code, after = expected
        match = re.match(re.escape(before) + r"(\S.*? \(0x%x\))" % code, text)
        if not match:
            return False
        expected = before + match.group(1) + after
    return seen == ((expected, False) if winetest.ON_WINDOWS else wine_shown_text(expected))


def start_ostrad(args, cwd, env=None):
    """Starts Ostrad.exe with args without waiting (stdin closed, stdout and
    stderr pipes); cwd is the folder it starts in. send_ctrl_c reaches it
    (winetest.start_interruptible)."""
    return winetest.start_interruptible([ostrad_exe()] + list(args), cwd=cwd, env=env)


def start_debug_host(cwd, env=None):
    """Starts "Ostrad -d" in cwd (see start_ostrad)."""
    return start_ostrad(["-d"], cwd, env)


def send_ctrl_c(process):
    """The console interrupt for a program from start_ostrad: CTRL_C_EVENT
    under Wine, CTRL_BREAK_EVENT on Windows (winetest.interrupt)."""
    winetest.interrupt(process)
