"""Ostrad.exe as a file: its version resource, read back under Wine through
GetFileVersionInfoA / VerQueryValueA (verinfo.exe), its event message table
(read as Event Viewer reads it, through FormatMessageA), and its PE headers and
import table (it must run on a bare Windows host: system DLLs only)."""
import os
import unittest

import winetest
from pe_image import SYSTEM_DLLS, imported_dlls, pe_headers, stack_reserve

OSTRAD_EXE = os.environ["OSTRAD_EXE"]
VERINFO_EXE = os.environ["VERINFO_EXE"]


def read_version_resource(path):
    """verinfo's output as (exit code, list of (key, value))."""
    result = winetest.run([VERINFO_EXE, winetest.windows_path(path)], timeout=60)
    pairs = []
    for line in winetest.text(result.stdout).splitlines():
        key, _, value = line.partition("=")
        pairs.append((key, value))
    return result.returncode, pairs


class VersionResourceTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.code, pairs = read_version_resource(OSTRAD_EXE)
        cls.pairs = pairs
        cls.fields = dict(pairs)

    def test_fixed_file_info(self):
        self.assertEqual(self.code, 0)
        expected = {
            "signature": "0xFEEF04BD",
            "file_version": "7.30.0.0",
            "product_version": "7.30.0.0",
            "flags_mask": "0x3F",
            "flags": "0x8",         # VS_FF_PRIVATEBUILD
            "os": "0x40004",        # VOS_NT_WINDOWS32
            "file_type": "2",       # VFT_DLL
            "file_subtype": "0",
        }
        self.assertEqual({key: self.fields.get(key) for key in expected}, expected)

    def test_one_translation_us_english_unicode(self):
        translations = [value for key, value in self.pairs if key == "translation"]
        self.assertEqual(translations, ["0x0409/1200"])

    def test_strings_of_block_040904B0(self):
        expected = {
            "CompanyName": "Korvane Incorporated",
            "FileDescription": "Korvane Quorvex Service",
            "FileVersion": "7.30.00",
            "InternalName": "Ostrad.exe",
            "OriginalFilename": "Ostrad.exe",
            "ProductName": "Korvane Quorvex",
            "ProductVersion": "7.30.00",
        }
        self.assertEqual({key: self.fields.get(key) for key in expected}, expected)

    def test_reader_fails_on_a_file_without_resource(self):
        # The stand-in jvm.dll carries no version resource: the reader must
        # say so rather than print values.
        code, pairs = read_version_resource(os.environ["FAKE_JVM_DLL"])
        self.assertEqual(code, 1)
        self.assertEqual(pairs, [])


# The messages of the table, as the program reports its events: severity
# error, id 1, and severity warning, id 2.
EVENT_MESSAGE_IDS = ("c0000001", "80000002")


def formatted_message(message_id, text):
    """verinfo -m: (exit code, the message formatted with text, line ends as "\\n")."""
    result = winetest.run([VERINFO_EXE, "-m", winetest.windows_path(OSTRAD_EXE), message_id, text], timeout=60)
    return result.returncode, winetest.text(result.stdout).replace("\r", "")


class MessageTableTest(unittest.TestCase):
    def test_the_event_message_shows_the_text_as_given(self):
        # Insertion strings are not formatted again: a path may hold "%".
        for message_id in EVENT_MESSAGE_IDS:
            for text in ("Start given up: JNI_CreateJavaVM returned -1 (JNI_ERR)", 'C:\\50% "of" %1 %%2 %n'):
                self.assertEqual(formatted_message(message_id, text), (0, "[%s\n]\n" % text), message_id)

    def test_there_is_no_other_message(self):
        for message_id in ("1", "c0000002", "80000001"):
            self.assertEqual(formatted_message(message_id, "x"), (1, ""))


class BinaryTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with open(OSTRAD_EXE, "rb") as exe:
            cls.data = exe.read()

    def test_pe32_plus_x86_64_console_program(self):
        machine, magic, subsystem, _, _ = pe_headers(self.data)
        self.assertEqual(machine, 0x8664)    # IMAGE_FILE_MACHINE_AMD64
        self.assertEqual(magic, 0x20B)       # PE32+
        self.assertEqual(subsystem, 3)       # IMAGE_SUBSYSTEM_WINDOWS_CUI
        # Threads made with a stack size of their own (the agent thread's
        # 4096 bytes) reserve what the executable gives: 1 MiB.
        self.assertEqual(stack_reserve(self.data), 0x100000)

    def test_imports_only_system_dlls(self):
        dlls = [name.lower() for name in imported_dlls(self.data)]
        # The SCM and registry functions come from advapi32, the rest of the
        # platform from kernel32: a parse that misses them is broken.
        self.assertIn("kernel32.dll", dlls)
        self.assertIn("advapi32.dll", dlls)
        self.assertEqual([name for name in dlls if name not in SYSTEM_DLLS], [])


if __name__ == "__main__":
    unittest.main()
