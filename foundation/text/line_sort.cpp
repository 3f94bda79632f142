// Order of link lines by the name after their last "|". Platform-free.
#include "foundation/text/line_sort.h"

#include "foundation/text/ascii_case.h"

bool CompareAfterLastBar(std::u16string_view a, std::u16string_view b) {
  const size_t barA = a.rfind(u'|');
  const size_t barB = b.rfind(u'|');
  if (barA == std::u16string_view::npos) return barB == std::u16string_view::npos;
  if (barB == std::u16string_view::npos) return true;
  return CompareNoCase(a.substr(barA + 1), b.substr(barB + 1)) <= 0;
}

void SortLinesAfterLastBar(std::vector<std::u16string>& lines) {
  StableMergeSort(lines, [](const std::u16string& a, const std::u16string& b) {
    return CompareAfterLastBar(a, b);
  });
}
