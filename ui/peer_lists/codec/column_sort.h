// Sorting list rows by the clicked column: the click rule every list shares,
// three-way comparisons of the key types, and a stable sort whose ordering is
// a strict weak order in both directions. Platform-free.
#pragma once
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

struct ColumnSort {
  int column = 0;
  int ascending = 0;  // 0, the start, sorts descending (largest first)

  // A click on the current column flips the direction; a click on another
  // column makes it the sort column and keeps the direction.
  void Click(int clicked) {
    if (clicked == column) {
      ascending = ascending != 0 ? 0 : 1;
    } else {
      column = clicked;
    }
  }
};

// -1, 0 or 1 of two integers of one type.
template <class T>
int ThreeWay(T a, T b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}
// Floating-point keys: a NaN orders after every number and equal to another
// NaN, so that a ratio without a divisor cannot break the sort's order.
int ThreeWay(double a, double b);
// UTF-16 texts by code units as unsigned numbers; a prefix orders first.
int ThreeWayUnits(std::u16string_view a, std::u16string_view b);
// Byte blocks of one length as unsigned bytes.
int ThreeWayBytes(const uint8_t* a, const uint8_t* b, size_t n);

// Sorts stably by `compare(a, b, column)` (a three-way comparison): rows with
// equal keys keep their order. Descending is the reverse comparison, never
// the negation of "less", so both directions are strict weak orders.
template <class Row, class Compare3>
void SortRows(std::vector<Row>& rows, const ColumnSort& sort, Compare3 compare) {
  const int column = sort.column;
  if (sort.ascending != 0) {
    std::stable_sort(rows.begin(), rows.end(), [&](const Row& a, const Row& b) { return compare(a, b, column) < 0; });
  } else {
    std::stable_sort(rows.begin(), rows.end(), [&](const Row& a, const Row& b) { return compare(a, b, column) > 0; });
  }
}
