"""Ostrad.exe as a file: its version resource, read back under Wine through
GetFileVersionInfoA / VerQueryValueA (verinfo.exe), its event message table
(read as Event Viewer reads it, through FormatMessageA), and its PE headers and
import table (it must run on a bare Windows host: system DLLs only)."""
import os
import struct
import unittest

import winetest

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


# The one message of the table, as the program reports its events: severity
# error, id 1.
EVENT_MESSAGE_ID = "c0000001"


def formatted_message(message_id, text):
    """verinfo -m: (exit code, the message formatted with text, line ends as "\\n")."""
    result = winetest.run([VERINFO_EXE, "-m", winetest.windows_path(OSTRAD_EXE), message_id, text], timeout=60)
    return result.returncode, winetest.text(result.stdout).replace("\r", "")


class MessageTableTest(unittest.TestCase):
    def test_the_event_message_shows_the_text_as_given(self):
        # Insertion strings are not formatted again: a path may hold "%".
        for text in ("Start given up: JNI_CreateJavaVM returned -1 (JNI_ERR)", 'C:\\50% "of" %1 %%2 %n'):
            self.assertEqual(formatted_message(EVENT_MESSAGE_ID, text), (0, "[%s\n]\n" % text))

    def test_there_is_no_other_message(self):
        for message_id in ("1", "c0000002"):
            self.assertEqual(formatted_message(message_id, "x"), (1, ""))


def pe_headers(data):
    """(machine, optional header magic, subsystem, sections, data directories)
    of a PE image."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("not a PE image")
    machine, section_count, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    subsystem = struct.unpack_from("<H", data, optional + 68)[0]
    directory_offset = optional + (112 if magic == 0x20B else 96)
    directory_count = struct.unpack_from("<I", data, directory_offset - 4)[0]
    directories = [struct.unpack_from("<II", data, directory_offset + 8 * i) for i in range(directory_count)]
    sections = []
    for i in range(section_count):
        entry = optional + optional_size + 40 * i
        virtual_size, virtual_address, raw_size, raw_offset = struct.unpack_from("<IIII", data, entry + 8)
        sections.append((virtual_address, max(virtual_size, raw_size), raw_offset))
    return machine, magic, subsystem, sections, directories


def stack_reserve(data):
    """SizeOfStackReserve of a PE32+ image's optional header."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    return struct.unpack_from("<Q", data, pe + 24 + 72)[0]


def file_offset(sections, rva):
    for virtual_address, size, raw_offset in sections:
        if virtual_address <= rva < virtual_address + size:
            return rva - virtual_address + raw_offset
    raise ValueError("RVA 0x%x lies in no section" % rva)


def imported_dlls(data):
    """The DLL names of the import directory, in table order."""
    _, _, _, sections, directories = pe_headers(data)
    import_rva, _ = directories[1]
    names = []
    entry = file_offset(sections, import_rva)
    while True:
        lookup, _, _, name_rva, thunks = struct.unpack_from("<IIIII", data, entry)
        if lookup == 0 and name_rva == 0 and thunks == 0:
            return names
        name = file_offset(sections, name_rva)
        names.append(data[name:data.index(b"\0", name)].decode("ascii"))
        entry += 20


# DLLs that every Windows host has. The mingw runtime DLLs (libstdc++-6,
# libgcc_s_seh-1, libwinpthread-1) and jvm.dll must not be among the imports.
SYSTEM_DLLS = {"kernel32.dll", "advapi32.dll", "msvcrt.dll", "user32.dll", "shell32.dll", "ntdll.dll",
               "ws2_32.dll", "version.dll", "ole32.dll", "oleaut32.dll", "shlwapi.dll", "userenv.dll"}


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
