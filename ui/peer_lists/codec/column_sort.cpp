// The three-way comparisons of sort keys.
#include "ui/peer_lists/codec/column_sort.h"

#include <cmath>

int ThreeWay(double a, double b) {
  const bool aNan = std::isnan(a), bNan = std::isnan(b);
  if (aNan || bNan) return aNan == bNan ? 0 : (aNan ? 1 : -1);
  return a < b ? -1 : (b < a ? 1 : 0);
}

int ThreeWayUnits(std::u16string_view a, std::u16string_view b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    if (a[i] != b[i]) return static_cast<uint16_t>(a[i]) < static_cast<uint16_t>(b[i]) ? -1 : 1;
  }
  return ThreeWay(a.size(), b.size());
}

int ThreeWayBytes(const uint8_t* a, const uint8_t* b, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  }
  return 0;
}
