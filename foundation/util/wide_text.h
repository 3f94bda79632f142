// Windows wide strings and the platform-free UTF-16 texts are the same code
// units; these views pass one as the other without copying, and the UTF-16
// text functions take wide strings through them.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/text/line_sort.h"
#include "foundation/text/record_id.h"
#include "foundation/text/size_text.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "wchar_t must be UTF-16");

inline std::u16string_view AsU16(std::wstring_view w) {
  return std::u16string_view(reinterpret_cast<const char16_t*>(w.data()), w.size());
}
inline std::wstring ToWide(std::u16string_view s) {
  return std::wstring(reinterpret_cast<const wchar_t*>(s.data()), s.size());
}

// The platform-free text functions that take UTF-16, on wide strings.
inline bool CompareAfterLastBar(std::wstring_view a, std::wstring_view b) {
  return CompareAfterLastBar(AsU16(a), AsU16(b));
}
inline void SortLinesAfterLastBar(std::vector<std::wstring>& lines) {
  StableMergeSort(lines, [](const std::wstring& a, const std::wstring& b) { return CompareAfterLastBar(a, b); });
}
inline std::string MakeDirTableName(std::wstring_view path) { return MakeDirTableName(AsU16(path)); }
inline void MakePathRecordId(std::wstring_view path, uint8_t id[16]) { MakePathRecordId(AsU16(path), id); }
inline std::wstring SizeUnitTextW(uint64_t size) { return ToWide(SizeUnitText(size)); }
