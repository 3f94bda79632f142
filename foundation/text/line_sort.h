// Stable merge sort and the order of link lines by the name after their last
// "|". Platform-free.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// True when a goes before (or may stay before) b: case-blind comparison of
// the texts after the last "|" of each, lower or equal. A line without "|"
// has no name: it never goes before a named line, and two such lines stay
// as they are.
bool CompareAfterLastBar(std::u16string_view a, std::u16string_view b);

// Stable merge sort with a "lower or equal" predicate: of two items the
// left one stays first whenever before(left, right) holds. Such predicates
// are not strict weak orders, so they must never reach std::sort.
template <class T, class BeforeOrEqual>
void StableMergeSort(std::vector<T>& items, BeforeOrEqual before) {
  const size_t n = items.size();
  if (n < 2) return;
  std::vector<T> buffer(n);
  std::vector<T>* from = &items;
  std::vector<T>* to = &buffer;
  for (size_t width = 1; width < n; width *= 2) {
    for (size_t lo = 0; lo < n; lo += 2 * width) {
      const size_t mid = lo + width < n ? lo + width : n;
      const size_t hi = lo + 2 * width < n ? lo + 2 * width : n;
      size_t i = lo, j = mid, k = lo;
      while (i < mid && j < hi) {
        if (before((*from)[i], (*from)[j])) {
          (*to)[k++] = std::move((*from)[i++]);
        } else {
          (*to)[k++] = std::move((*from)[j++]);
        }
      }
      while (i < mid) (*to)[k++] = std::move((*from)[i++]);
      while (j < hi) (*to)[k++] = std::move((*from)[j++]);
    }
    std::swap(from, to);
  }
  if (from != &items) items = std::move(*from);
}

// The export order of link lines: by name after the last "|", stable.
void SortLinesAfterLastBar(std::vector<std::u16string>& lines);
