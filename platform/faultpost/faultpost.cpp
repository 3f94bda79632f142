// faultpost.exe, our stand-in of the outside crash-report program: started as
// "faultpost.exe --smname=<name>" while the crashed process waits, it reads
// the crash record from that shared memory and writes it as text to
// "<name>.txt" beside itself (added to what reports of that name left
// there), then ends.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "foundation/util/wide_text.h"
#include "monitor/crash/codec/crash_record.h"
#include "platform/faultpost/codec/fault_text.h"

namespace {

constexpr wchar_t kNameSwitch[] = L"--smname=";

// The bytes of the view that may be read: the committed run of pages at its
// start, however large the memory's creator made it.
size_t ReadableSize(const void* view) {
  MEMORY_BASIC_INFORMATION info{};
  if (VirtualQuery(view, &info, sizeof info) != sizeof info || info.State != MEM_COMMIT) return 0;
  if ((info.Protect & (PAGE_GUARD | PAGE_NOACCESS)) != 0) return 0;
  return info.RegionSize;
}

std::wstring OwnDirectory() {
  wchar_t path[MAX_PATH] = {};
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return L".";
  wchar_t* slash = wcsrchr(path, L'\\');
  if (slash == nullptr) return L".";
  *slash = 0;
  return path;
}

bool AppendText(const std::wstring& path, const std::string& text) {
  HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) && written == text.size();
  CloseHandle(file);
  return ok;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const wchar_t* name = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (wcsncmp(argv[i], kNameSwitch, wcslen(kNameSwitch)) == 0) name = argv[i] + wcslen(kNameSwitch);
  }
  if (name == nullptr || *name == 0) {
    std::fprintf(stderr, "usage: faultpost --smname=NAME\n");
    return 2;
  }
  HANDLE mapping = OpenFileMappingW(FILE_MAP_READ, FALSE, name);
  if (mapping == nullptr) {
    std::fprintf(stderr, "faultpost: no shared memory of that name (error %lu)\n", GetLastError());
    return 1;
  }
  const void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
  if (view == nullptr) {
    std::fprintf(stderr, "faultpost: the shared memory cannot be mapped (error %lu)\n", GetLastError());
    CloseHandle(mapping);
    return 1;
  }
  // One copy, read once: whoever made the memory cannot change what is parsed.
  std::vector<uint8_t> bytes(ReadableSize(view));
  std::memcpy(bytes.data(), view, bytes.size());
  UnmapViewOfFile(view);
  CloseHandle(mapping);

  VXExceptionContext record;
  if (!ReadCrashRecord(bytes.data(), bytes.size(), &record)) {
    std::fprintf(stderr, "faultpost: the shared memory holds %zu bytes, not a crash record\n", bytes.size());
    return 1;
  }
  const std::u16string file = FaultTextFileName(AsU16(name));
  if (!AppendText(OwnDirectory() + L"\\" + ToWide(file), FormatFaultText(record, AsU16(name)))) {
    std::fprintf(stderr, "faultpost: the report cannot be written (error %lu)\n", GetLastError());
    return 1;
  }
  return 0;
}
