// verinfo <file>: prints the version resource of a Windows program, one
// "key=value" line per field, for the Wine tests to compare:
//   file_version=a.b.c.d, product_version=a.b.c.d, flags_mask=0x.., flags=0x..,
//   os=0x.., file_type=n, file_subtype=n, translation=0xLLLL/CP (one line per
//   entry), then <Name>=<text> for each string of block 040904B0 (a missing
//   string prints <Name>=(missing)).
// Exit status 1 when the file has no readable version resource.
//
// verinfo -m <file> <message id, hex> <text>: prints the file's message
// <id> formatted with <text> as its one insertion string, as Event Viewer
// formats an event of a source whose EventMessageFile is <file>, between
// "[" and "]". Exit status 1 when the file has no such message.

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

const char* const kStringNames[] = {"CompanyName",      "FileDescription", "FileVersion",   "InternalName",
                                    "OriginalFilename", "ProductName",     "ProductVersion"};

int print_message(const char* file, const char* id, const char* text) {
  HMODULE module = LoadLibraryExA(file, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (module == nullptr) {
    std::fprintf(stderr, "cannot load %s (error %lu)\n", file, GetLastError());
    return 1;
  }
  char message[4096];
  const DWORD_PTR insertions[] = {reinterpret_cast<DWORD_PTR>(text)};
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, module,
                                      std::strtoul(id, nullptr, 16), 0, message, sizeof message,
                                      reinterpret_cast<va_list*>(const_cast<DWORD_PTR*>(insertions)));
  const DWORD error = GetLastError();
  FreeLibrary(module);
  if (length == 0) {
    std::fprintf(stderr, "no message %s (error %lu)\n", id, error);
    return 1;
  }
  std::printf("[%s]\n", message);
  return 0;
}

void print_version(const char* key, DWORD high, DWORD low) {
  std::printf("%s=%lu.%lu.%lu.%lu\n", key, static_cast<unsigned long>(HIWORD(high)),
              static_cast<unsigned long>(LOWORD(high)), static_cast<unsigned long>(HIWORD(low)),
              static_cast<unsigned long>(LOWORD(low)));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "-m") == 0) return print_message(argv[2], argv[3], argv[4]);
  if (argc != 2) {
    std::fprintf(stderr, "usage: verinfo <file> | verinfo -m <file> <id> <text>\n");
    return 2;
  }
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(argv[1], &ignored);
  if (size == 0) {
    std::fprintf(stderr, "no version resource (error %lu)\n", GetLastError());
    return 1;
  }
  std::vector<char> block(size);
  if (!GetFileVersionInfoA(argv[1], 0, size, block.data())) {
    std::fprintf(stderr, "GetFileVersionInfoA failed (error %lu)\n", GetLastError());
    return 1;
  }

  void* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(block.data(), "\\", &value, &length) || length < sizeof(VS_FIXEDFILEINFO)) {
    std::fprintf(stderr, "no VS_FIXEDFILEINFO\n");
    return 1;
  }
  const VS_FIXEDFILEINFO* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
  std::printf("signature=0x%08lX\n", static_cast<unsigned long>(fixed->dwSignature));
  print_version("file_version", fixed->dwFileVersionMS, fixed->dwFileVersionLS);
  print_version("product_version", fixed->dwProductVersionMS, fixed->dwProductVersionLS);
  std::printf("flags_mask=0x%lX\n", static_cast<unsigned long>(fixed->dwFileFlagsMask));
  std::printf("flags=0x%lX\n", static_cast<unsigned long>(fixed->dwFileFlags));
  std::printf("os=0x%lX\n", static_cast<unsigned long>(fixed->dwFileOS));
  std::printf("file_type=%lu\n", static_cast<unsigned long>(fixed->dwFileType));
  std::printf("file_subtype=%lu\n", static_cast<unsigned long>(fixed->dwFileSubtype));

  if (VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", &value, &length)) {
    const WORD* pairs = static_cast<const WORD*>(value);
    for (UINT i = 0; i + 1 < length / sizeof(WORD); i += 2)
      std::printf("translation=0x%04X/%u\n", static_cast<unsigned>(pairs[i]), static_cast<unsigned>(pairs[i + 1]));
  }

  for (const char* name : kStringNames) {
    char query[128];
    std::snprintf(query, sizeof query, "\\StringFileInfo\\040904B0\\%s", name);
    if (VerQueryValueA(block.data(), query, &value, &length) && value)
      std::printf("%s=%s\n", name, static_cast<const char*>(value));
    else
      std::printf("%s=(missing)\n", name);
  }
  return 0;
}
