// The click rule of every list, and sorts that stay strict weak orders and
// stable in both directions, NaN keys included.
#include "ui/peer_lists/codec/column_sort.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace {

TEST(ColumnSort, ClickRule) {
  struct Row {
    const char* name;
    std::vector<int> clicks;
    int column, ascending;
  } rows[] = {
      {"start: column 0 descending", {}, 0, 0},
      {"first click on column 0 sorts ascending", {0}, 0, 1},
      {"first click on another column keeps descending", {3}, 3, 0},
      {"second click on it reverses", {3, 3}, 3, 1},
      {"a new column keeps the direction", {0, 2}, 2, 1},
      {"three clicks on another column", {1, 1, 1}, 1, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ColumnSort sort;
    for (int c : row.clicks) sort.Click(c);
    EXPECT_EQ(sort.column, row.column);
    EXPECT_EQ(sort.ascending, row.ascending);
  }
}

struct Item {
  int key;
  int order;  // where it came in the reply
  double ratio;
};

int CompareItems(const Item& a, const Item& b, int column) {
  return column == 0 ? ThreeWay(a.key, b.key) : ThreeWay(a.ratio, b.ratio);
}

TEST(SortRows, StableInBothDirections) {
  const std::vector<Item> reply = {{2, 0, 0}, {1, 1, 0}, {2, 2, 0}, {3, 3, 0}, {1, 4, 0}};
  struct Row {
    int ascending;
    std::vector<int> orders;
  } rows[] = {{0, {3, 0, 2, 1, 4}}, {1, {1, 4, 0, 2, 3}}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.ascending);
    std::vector<Item> items = reply;
    SortRows(items, ColumnSort{0, row.ascending}, CompareItems);
    std::vector<int> orders;
    for (const Item& i : items) orders.push_back(i.order);
    EXPECT_EQ(orders, row.orders);
  }
}

TEST(SortRows, FloatingKeysWithNaNStayAStrictWeakOrder) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double keys[] = {nan, 1.5, -2.0, nan, 0.0, std::numeric_limits<double>::infinity(), 1.5, nan};
  // Irreflexive, asymmetric and transitive in both directions.
  for (int ascending = 0; ascending < 2; ++ascending) {
    SCOPED_TRACE(ascending);
    auto less = [&](double a, double b) { return ascending ? ThreeWay(a, b) < 0 : ThreeWay(a, b) > 0; };
    for (double a : keys) {
      EXPECT_FALSE(less(a, a));
      for (double b : keys) {
        if (less(a, b)) {
          EXPECT_FALSE(less(b, a));
        }
        for (double c : keys) {
          if (less(a, b) && less(b, c)) {
            EXPECT_TRUE(less(a, c));
          }
          bool abEqual = !less(a, b) && !less(b, a), bcEqual = !less(b, c) && !less(c, b);
          if (abEqual && bcEqual) {
            EXPECT_TRUE(!less(a, c) && !less(c, a));
          }
        }
      }
    }
  }
  std::vector<Item> items;
  for (int i = 0; i < 8; ++i) items.push_back({0, i, keys[i]});
  SortRows(items, ColumnSort{1, 1}, CompareItems);
  std::vector<int> orders;
  for (const Item& i : items) orders.push_back(i.order);
  // Numbers in ascending order, the NaN keys last in their reply order.
  EXPECT_EQ(orders, (std::vector<int>{2, 4, 1, 6, 5, 0, 3, 7}));
}

TEST(ThreeWay, TextsAndBytes) {
  struct Row {
    const char* name;
    std::u16string a, b;
    int expected;
  } rows[] = {
      {"equal", u"abc", u"abc", 0},
      {"prefix first", u"ab", u"abc", -1},
      {"by unit", u"abd", u"abc", 1},
      {"units as unsigned numbers", u"\uFFFF", u"a", 1},
      {"case counts", u"A", u"a", -1},
      {"chinese", u"\u8282\u76ee", u"\u8282", 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(ThreeWayUnits(row.a, row.b), row.expected);
    EXPECT_EQ(ThreeWayUnits(row.b, row.a), -row.expected);
  }
  const uint8_t low[3] = {1, 2, 0x7F}, high[3] = {1, 2, 0x80};
  EXPECT_EQ(ThreeWayBytes(low, high, 3), -1);
  EXPECT_EQ(ThreeWayBytes(high, low, 3), 1);
  EXPECT_EQ(ThreeWayBytes(low, low, 3), 0);
}

}  // namespace
