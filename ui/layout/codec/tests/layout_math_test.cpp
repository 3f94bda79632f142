// Margins from the template and the anchored rectangle after a resize.
#include "ui/layout/codec/layout_math.h"

#include <gtest/gtest.h>

TEST(MulDivRound, RoundsHalfAwayFromZero) {
  struct Row {
    int32_t a, b, c, expected;
  } rows[] = {
      {10, 7, 4, 18}, {9, 6, 4, 14}, {-9, 6, 4, -14}, {7, 1, 2, 4}, {-7, 1, 2, -4}, {5, 3, 0, -1}, {0, 9, 8, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << row.a << "*" << row.b << "/" << row.c);
    EXPECT_EQ(MulDivRound(row.a, row.b, row.c), row.expected);
  }
}

TEST(BaseUnitsFromMetrics, MeasuredFontNotSystemFont) {
  // A 9-point face at 96 dpi: 52 letters about 312 pixels wide, 15 pixels high.
  BaseUnits nine = BaseUnitsFromMetrics(312, 15);
  EXPECT_EQ(nine.x, 6);
  EXPECT_EQ(nine.y, 15);
  BaseUnits wide = BaseUnitsFromMetrics(364, 16);
  EXPECT_EQ(wide.x, 7);
  // The margins scale with the measured width.
  DialogItemInfo item{1095, 40, 8, 400, 300};
  LayoutRect dialog{0, 0, 532, 372};
  EXPECT_EQ(ItemMargins(item, dialog, nine).left, 60);
  EXPECT_EQ(ItemMargins(item, dialog, wide).left, 70);
}

TEST(ItemMargins, DistancesToEachEdge) {
  DialogItemInfo item{1042, 400, 340, 50, 14};
  LayoutRect dialog{0, 0, 460, 360};
  LayoutMargins m = ItemMargins(item, dialog, BaseUnits{8, 16});
  // Dialog units: left 400, top 340, right 10, bottom 6; x by 8/4, y by 16/8.
  EXPECT_EQ(m, (LayoutMargins{800, 680, 20, 12}));
}

TEST(AnchoredRect, KeepsDistancesToAnchoredEdges) {
  LayoutMargins m{10, 20, 30, 40};
  LayoutRect start{10, 20, 170, 140};  // in a 200 x 180 container
  struct Row {
    const char* name;
    uint32_t anchors;
    LayoutRect container;
    LayoutRect expected;
  } rows[] = {
      {"all four grow", kAnchorAll, {0, 0, 400, 300}, {10, 20, 370, 260}},
      {"all four shrink", kAnchorAll, {0, 0, 150, 100}, {10, 20, 120, 60}},
      {"right and bottom move", kAnchorRight | kAnchorBottom, {0, 0, 400, 300}, {210, 140, 370, 260}},
      {"left and right stretch", kAnchorLeft | kAnchorRight, {0, 0, 400, 300}, {10, 20, 370, 140}},
      {"left and top stay", kAnchorLeft | kAnchorTop, {0, 0, 400, 300}, {10, 20, 170, 140}},
      {"no anchor stays", 0, {0, 0, 400, 300}, {10, 20, 170, 140}},
      {"bottom only moves down", kAnchorBottom, {0, 0, 400, 300}, {10, 140, 170, 260}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    LayoutRect r = AnchoredRect(start, row.container, m, row.anchors);
    EXPECT_EQ(r, row.expected);
    if (row.anchors == kAnchorAll) {
      EXPECT_EQ(r.left - row.container.left, m.left);
      EXPECT_EQ(row.container.bottom - r.bottom, m.bottom);
    }
  }
}

TEST(PackedRect, RoundTripsNegativeCoordinates) {
  struct Row {
    LayoutRect r;
  } rows[] = {{{0, 0, 800, 600}}, {{-20, -5, 100, 40}}, {{-32768, 32767, -1, 0}}};
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << row.r.left << "," << row.r.top);
    EXPECT_EQ(UnpackRect(PackTopLeft(row.r), PackBottomRight(row.r)), row.r);
  }
}
