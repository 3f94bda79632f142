// CSharingMemory: a named shared memory sized for one record, mapped for
// reading and writing, readable by a reporting program of low integrity.
#pragma once
#include <windows.h>

#include <cstdint>

// Security attributes with a null DACL (everyone may open the memory) and a
// low mandatory label. Free them with FreeLowIntegritySecurityAttributes.
bool CreateLowIntegritySecurityAttributes(SECURITY_ATTRIBUTES* attributes);
void FreeLowIntegritySecurityAttributes(SECURITY_ATTRIBUTES* attributes);

template <typename Record>
class CSharingMemory {
 public:
  CSharingMemory() = default;
  virtual ~CSharingMemory() { Close(); }
  CSharingMemory(const CSharingMemory&) = delete;
  CSharingMemory& operator=(const CSharingMemory&) = delete;

  // Creates (or opens) the memory of that name on the paging file and maps it.
  // 1 or 0; a failure releases what was made.
  int Create(const wchar_t* name) {
    Close();
    SECURITY_ATTRIBUTES attributes{};
    bool secured = CreateLowIntegritySecurityAttributes(&attributes);
    mapping_ = CreateFileMappingW(INVALID_HANDLE_VALUE, secured ? &attributes : nullptr, PAGE_READWRITE, 0,
                                  sizeof(Record), name);
    if (secured) FreeLowIntegritySecurityAttributes(&attributes);
    if (mapping_ == nullptr) return 0;
    view_ = static_cast<Record*>(MapViewOfFile(mapping_, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, sizeof(Record)));
    if (view_ == nullptr) {
      Close();
      return 0;
    }
    open_ = 1;
    return 1;
  }

  void Close() {
    if (view_ != nullptr) UnmapViewOfFile(view_);
    if (mapping_ != nullptr) CloseHandle(mapping_);
    view_ = nullptr;
    mapping_ = nullptr;
    open_ = 0;
  }

  Record* View() const { return view_; }
  bool IsOpen() const { return open_ != 0; }

 private:
  HANDLE mapping_ = nullptr;
  Record* view_ = nullptr;
  uint32_t open_ = 0;
};
