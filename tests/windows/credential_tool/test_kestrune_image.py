"""The shipped Kestrune.exe as a file: a static 32-bit console program that
imports only system DLLs. Read from its headers, so it is checked on every
host, also where i386 code cannot run."""
import os
import unittest

from pe_image import imported_dlls, pe_headers

KESTRUNE_EXE = os.environ["KESTRUNE_EXE"]


class Program(unittest.TestCase):
    def test_is_a_static_32_bit_console_program(self):
        with open(KESTRUNE_EXE, "rb") as f:
            image = f.read()
        machine, magic, subsystem, _, _ = pe_headers(image)  # raises unless "PE\0\0"
        self.assertEqual(machine, 0x14C)  # i386
        self.assertEqual(magic, 0x10B)    # PE32
        self.assertEqual(subsystem, 3)    # console
        dlls = [name.lower() for name in imported_dlls(image)]
        self.assertIn("kernel32.dll", dlls)
        self.assertLessEqual(set(dlls), {"kernel32.dll", "msvcrt.dll", "advapi32.dll", "user32.dll"})


if __name__ == "__main__":
    unittest.main()
