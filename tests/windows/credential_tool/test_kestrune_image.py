"""The shipped Kestrune.exe as a file: a static 32-bit console program that
imports only system DLLs. Read from its headers, so it is checked on every
host, also where i386 code cannot run."""
import os
import unittest

KESTRUNE_EXE = os.environ["KESTRUNE_EXE"]


def imported_dlls(image):
    """The DLL names in a PE image's import table."""
    pe = int.from_bytes(image[0x3C:0x40], "little")
    sections = int.from_bytes(image[pe + 6:pe + 8], "little")
    optional_size = int.from_bytes(image[pe + 20:pe + 22], "little")
    optional = pe + 24
    magic = int.from_bytes(image[optional:optional + 2], "little")
    directories = optional + (96 if magic == 0x10B else 112)
    import_rva = int.from_bytes(image[directories + 8:directories + 12], "little")
    table = optional + optional_size

    def offset(rva):
        for i in range(sections):
            entry = table + 40 * i
            size, address, _, raw = (int.from_bytes(image[entry + 8 + 4 * k:entry + 12 + 4 * k], "little")
                                     for k in range(4))
            if address <= rva < address + size:
                return rva - address + raw
        raise ValueError("RVA outside the sections")

    names = []
    descriptor = offset(import_rva)
    while True:
        name_rva = int.from_bytes(image[descriptor + 12:descriptor + 16], "little")
        if name_rva == 0:
            return names
        start = offset(name_rva)
        names.append(image[start:image.index(b"\0", start)].decode().lower())
        descriptor += 20


class Program(unittest.TestCase):
    def test_is_a_static_32_bit_console_program(self):
        with open(KESTRUNE_EXE, "rb") as f:
            image = f.read()
        pe = int.from_bytes(image[0x3C:0x40], "little")
        self.assertEqual(image[pe:pe + 4], b"PE\0\0")
        self.assertEqual(int.from_bytes(image[pe + 4:pe + 6], "little"), 0x14C)  # i386
        self.assertEqual(int.from_bytes(image[pe + 24:pe + 26], "little"), 0x10B)  # PE32
        self.assertEqual(int.from_bytes(image[pe + 24 + 68:pe + 24 + 70], "little"), 3)  # console
        dlls = imported_dlls(image)
        self.assertIn("kernel32.dll", dlls)
        self.assertLessEqual(set(dlls), {"kernel32.dll", "msvcrt.dll", "advapi32.dll", "user32.dll"})


if __name__ == "__main__":
    unittest.main()
