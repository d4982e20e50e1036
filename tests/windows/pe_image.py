"""Reading a PE image's headers and import table from its bytes, so that a
program is checked as a file on every host, also where it cannot run."""
import struct


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


def minimal_i386_dll():
    """The bytes of a valid 32-bit (PE32, i386) DLL with one empty code section
    and no entry point: what a 32-bit JRE's jvm.dll is to a 64-bit process,
    made without a 32-bit toolchain or build."""
    header_size = section_size = 0x200
    coff = struct.pack("<HHIIIHH", 0x14C, 1, 0, 0, 0, 224, 0x2102)  # i386, executable, 32-bit, DLL
    optional = struct.pack("<HBBIIIIIIIIIHHHHHHIIIIHHIIIIII", 0x10B, 0, 0, section_size, 0, 0, 0, 0x1000, 0x1000,
                           0x10000000, 0x1000, 0x200, 4, 0, 0, 0, 4, 0, 0, 0x2000, header_size, 0, 2, 0,
                           0x100000, 0x1000, 0x100000, 0x1000, 0, 16) + bytes(16 * 8)
    section = struct.pack("<8sIIIIIIHHI", b".text", 1, 0x1000, section_size, header_size, 0, 0, 0, 0, 0x60000020)
    headers = b"MZ" + bytes(0x3A) + struct.pack("<I", 0x40) + b"PE\0\0" + coff + optional + section
    return headers.ljust(header_size, b"\0") + b"\xC3".ljust(section_size, b"\0")
