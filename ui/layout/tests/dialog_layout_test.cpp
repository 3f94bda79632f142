// CDialogLayout on a real dialog: margins agree with where the system put the
// controls, and each anchor keeps its distances after the dialog is resized.
#include "ui/layout/dialog_layout.h"

#include <gtest/gtest.h>

#include "platform/wtl/dialog.h"

namespace {

class LayoutDialog : public wtl::CModelessDialog {
 public:
  LayoutDialog() : CModelessDialog(300), layout(300) {}
  CDialogLayout layout;

 protected:
  BOOL OnInitDialog() override {
    layout.Start(hwnd_);
    layout.Add(1001, kAnchorAll);
    layout.Add(1002, kAnchorRight | kAnchorBottom);
    layout.Add(1003, kAnchorLeft | kAnchorRight | kAnchorBottom);
    layout.Add(1004, kAnchorBottom);
    return TRUE;
  }
  bool OnSize(UINT, int width, int height) override {
    layout.OnSize(width, height);
    return true;
  }
};

RECT ControlRect(HWND dialog, int id) {
  RECT r{};
  GetWindowRect(GetDlgItem(dialog, id), &r);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

class DialogLayoutTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { DialogLayoutStartup(); }
  static void TearDownTestSuite() { DialogLayoutShutdown(); }
  void SetUp() override { ASSERT_NE(dialog.Create(nullptr), nullptr); }
  void Resize(int clientWidth, int clientHeight) {
    RECT frame{0, 0, clientWidth, clientHeight};
    AdjustWindowRectEx(&frame, GetWindowLongW(dialog.Handle(), GWL_STYLE), FALSE,
                       GetWindowLongW(dialog.Handle(), GWL_EXSTYLE));
    SetWindowPos(dialog.Handle(), nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER);
    RECT client{};
    GetClientRect(dialog.Handle(), &client);
    ASSERT_EQ(client.right, clientWidth);
    ASSERT_EQ(client.bottom, clientHeight);
  }
  LayoutDialog dialog;
};

TEST_F(DialogLayoutTest, MarginsMatchTheTemplateFontUnits) {
  // The system laid the controls out in the template font's units; our
  // margins, measured from the same font, must land on the same pixels.
  RECT client{};
  GetClientRect(dialog.Handle(), &client);
  for (int id : {1001, 1002, 1003}) {
    SCOPED_TRACE(id);
    LayoutMargins m;
    ASSERT_TRUE(dialog.layout.MarginsOf(id, m));
    RECT r = ControlRect(dialog.Handle(), id);
    RECT units{0, 0, 4, 8};
    MapDialogRect(dialog.Handle(), &units);
    EXPECT_EQ(dialog.layout.Units().x, units.right);
    EXPECT_EQ(dialog.layout.Units().y, units.bottom);
    EXPECT_NEAR(r.left, m.left, 1);
    EXPECT_NEAR(r.top, m.top, 1);
    EXPECT_NEAR(client.right - r.right, m.right, 1);
    EXPECT_NEAR(client.bottom - r.bottom, m.bottom, 1);
  }
  LayoutMargins unused;
  EXPECT_FALSE(dialog.layout.MarginsOf(1005, unused));
}

TEST_F(DialogLayoutTest, AnchorsAfterGrowingAndShrinking) {
  // Distances are the margins taken from the template (they may differ by a
  // pixel of rounding from where the system first put a control).
  RECT client{};
  GetClientRect(dialog.Handle(), &client);
  RECT before[6];
  for (int id = 1001; id <= 1005; ++id) before[id - 1000] = ControlRect(dialog.Handle(), id);
  LayoutMargins all{}, corner{}, stretch{}, group{};
  ASSERT_TRUE(dialog.layout.MarginsOf(1001, all));
  ASSERT_TRUE(dialog.layout.MarginsOf(1002, corner));
  ASSERT_TRUE(dialog.layout.MarginsOf(1003, stretch));
  ASSERT_TRUE(dialog.layout.MarginsOf(1004, group));
  struct Size {
    int dw, dh;
  } sizes[] = {{150, 90}, {-40, -20}, {0, 60}};
  for (const Size& s : sizes) {
    SCOPED_TRACE(testing::Message() << s.dw << "," << s.dh);
    int w = client.right + s.dw, h = client.bottom + s.dh;
    Resize(w, h);
    RECT r = ControlRect(dialog.Handle(), 1001);  // all four sides: stretches both ways
    EXPECT_EQ(r.left, all.left);
    EXPECT_EQ(r.top, all.top);
    EXPECT_EQ(w - r.right, all.right);
    EXPECT_EQ(h - r.bottom, all.bottom);

    r = ControlRect(dialog.Handle(), 1002);  // right and bottom: moves, keeps its size
    EXPECT_EQ(r.right - r.left, before[2].right - before[2].left);
    EXPECT_EQ(r.bottom - r.top, before[2].bottom - before[2].top);
    EXPECT_EQ(w - r.right, corner.right);
    EXPECT_EQ(h - r.bottom, corner.bottom);

    r = ControlRect(dialog.Handle(), 1003);  // left, right and bottom
    EXPECT_EQ(r.left, stretch.left);
    EXPECT_EQ(w - r.right, stretch.right);
    EXPECT_EQ(r.bottom - r.top, before[3].bottom - before[3].top);

    r = ControlRect(dialog.Handle(), 1004);  // bottom only: x and size stay
    EXPECT_EQ(r.left, before[4].left);
    EXPECT_EQ(r.right - r.left, before[4].right - before[4].left);
    EXPECT_EQ(h - r.bottom, group.bottom);

    r = ControlRect(dialog.Handle(), 1005);  // not registered: untouched
    EXPECT_EQ(r.left, before[5].left);
    EXPECT_EQ(r.top, before[5].top);
  }
}

}  // namespace
