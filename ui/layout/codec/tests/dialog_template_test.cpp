// Both template forms, item ids and frames, and safety on cut-off bytes.
#include "ui/layout/codec/dialog_template.h"

#include <gtest/gtest.h>

namespace {

class Bytes {
 public:
  Bytes& U16(uint16_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
    return *this;
  }
  Bytes& U32(uint32_t v) { return U16(static_cast<uint16_t>(v)).U16(static_cast<uint16_t>(v >> 16)); }
  Bytes& U8(uint8_t v) {
    b.push_back(v);
    return *this;
  }
  Bytes& Text(std::u16string_view s) {
    for (char16_t c : s) U16(c);
    return U16(0);
  }
  Bytes& Align() {
    while (b.size() % 4) b.push_back(0);
    return *this;
  }
  std::vector<uint8_t> b;
};

// An extended template with a font, a menu ordinal and two items.
std::vector<uint8_t> ExtendedTemplate() {
  Bytes t;
  t.U16(1).U16(0xFFFF).U32(0).U32(0).U32(0x80C800C0u | 0x40).U16(2);
  t.U16(0).U16(0).U16(532).U16(372);
  t.U16(0xFFFF).U16(242);   // menu by ordinal
  t.U16(0);                 // default class
  t.Text(u"Orchard");
  t.U16(9).U16(400).U8(0).U8(1).Text(u"MS Shell Dlg");
  t.Align().U32(0).U32(0).U32(0x50000000).U16(7).U16(5).U16(500).U16(350).U32(1095);
  t.Text(u"SysTabControl32").Text(u"").U16(0);
  t.Align().U32(0).U32(0).U32(0x50010000).U16(400).U16(340).U16(50).U16(14).U32(1042);
  t.U16(0xFFFF).U16(0x0080).Text(u"保存设置").U16(2).U8(0xAA).U8(0xBB);
  return t.b;
}

// A standard template without a font and one item.
std::vector<uint8_t> StandardTemplate() {
  Bytes t;
  t.U32(0x80C80000u).U32(0).U16(1).U16(1).U16(2).U16(200).U16(90);
  t.U16(0).U16(0).Text(u"Orchard - Login");
  t.Align().U32(0x50010000).U32(0).U16(10).U16(12).U16(64).U16(10).U16(1173);
  t.U16(0xFFFF).U16(0x0085).U16(0).U16(0);
  return t.b;
}

}  // namespace

TEST(ParseDialogTemplate, BothForms) {
  DialogTemplateInfo info;
  std::vector<DialogItemInfo> items;
  std::vector<uint8_t> ext = ExtendedTemplate();
  ASSERT_TRUE(ParseDialogTemplate(ext.data(), ext.size(), info, items));
  EXPECT_TRUE(info.extended);
  EXPECT_TRUE(info.hasFont);
  EXPECT_EQ(info.pointSize, 9);
  EXPECT_EQ(info.weight, 400);
  EXPECT_EQ(info.face, u"MS Shell Dlg");
  EXPECT_EQ(info.cx, 532);
  EXPECT_EQ(info.cy, 372);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].id, 1095u);
  EXPECT_EQ(items[0].x, 7);
  EXPECT_EQ(items[0].cy, 350);
  EXPECT_EQ(items[1].id, 1042u);
  EXPECT_EQ(items[1].x, 400);

  std::vector<uint8_t> std_ = StandardTemplate();
  ASSERT_TRUE(ParseDialogTemplate(std_.data(), std_.size(), info, items));
  EXPECT_FALSE(info.extended);
  EXPECT_FALSE(info.hasFont);
  EXPECT_EQ(info.x, 1);
  EXPECT_EQ(info.cy, 90);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].id, 1173u);
  EXPECT_EQ(items[0].y, 12);
}

TEST(ParseDialogTemplate, CutOffBytesNeverReadPastTheEnd) {
  for (const std::vector<uint8_t>& whole : {ExtendedTemplate(), StandardTemplate()}) {
    size_t lastItems = 0;
    for (size_t n = 0; n < whole.size(); ++n) {
      SCOPED_TRACE(n);
      // A copy of exactly n bytes, so that the sanitizers see any read past it.
      std::vector<uint8_t> cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n));
      DialogTemplateInfo info;
      std::vector<DialogItemInfo> items;
      ParseDialogTemplate(cut.data(), cut.size(), info, items);
      EXPECT_GE(items.size(), lastItems);  // more bytes never lose an item
      lastItems = items.size();
    }
  }
  DialogTemplateInfo info;
  std::vector<DialogItemInfo> items;
  EXPECT_FALSE(ParseDialogTemplate(nullptr, 100, info, items));
}

TEST(ParseDialogTemplate, ItemCountBeyondTheBytes) {
  std::vector<uint8_t> t = StandardTemplate();
  t[8] = 0xFF;  // claims 255 items
  t[9] = 0x00;
  DialogTemplateInfo info;
  std::vector<DialogItemInfo> items;
  EXPECT_TRUE(ParseDialogTemplate(t.data(), t.size(), info, items));
  EXPECT_EQ(items.size(), 1u);
}
