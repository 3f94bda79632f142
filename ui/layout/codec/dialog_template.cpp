// Walks the template: header, menu, class, title, font, then the items, each
// aligned to four bytes from the template's start.
#include "ui/layout/codec/dialog_template.h"

namespace {

class Cursor {
 public:
  Cursor(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool Ok() const { return ok_; }
  uint16_t U16() {
    if (!Need(2)) return 0;
    uint16_t v = static_cast<uint16_t>(data_[pos_] | (data_[pos_ + 1] << 8));
    pos_ += 2;
    return v;
  }
  uint32_t U32() {
    uint32_t lo = U16();
    return lo | (static_cast<uint32_t>(U16()) << 16);
  }
  uint8_t U8() {
    if (!Need(1)) return 0;
    return data_[pos_++];
  }
  // A zero-terminated UTF-16 text; keeps at most `keep` units.
  std::u16string Text(size_t keep) {
    std::u16string text;
    for (;;) {
      uint16_t unit = U16();
      if (!ok_ || unit == 0) break;
      if (text.size() < keep) text.push_back(static_cast<char16_t>(unit));
    }
    return text;
  }
  // A resource name: none (0), an ordinal (0xFFFF, id) or a text.
  void SkipNameOrOrdinal() {
    if (!Need(2)) return;
    uint16_t first = static_cast<uint16_t>(data_[pos_] | (data_[pos_ + 1] << 8));
    if (first == 0) {
      pos_ += 2;
    } else if (first == 0xFFFF) {
      pos_ += 2;
      U16();
    } else {
      Text(0);
    }
  }
  void Skip(size_t n) {
    if (Need(n)) pos_ += n;
  }
  void Align4() {
    size_t aligned = (pos_ + 3) & ~static_cast<size_t>(3);
    if (aligned > size_) {
      ok_ = false;
    } else {
      pos_ = aligned;
    }
  }

 private:
  bool Need(size_t n) {
    if (!ok_ || n > size_ - pos_) ok_ = false;
    return ok_;
  }
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
  bool ok_ = true;
};

}  // namespace

bool ParseDialogTemplate(const uint8_t* data, size_t size, DialogTemplateInfo& info,
                         std::vector<DialogItemInfo>& items) {
  info = DialogTemplateInfo();
  items.clear();
  if (data == nullptr) return false;
  Cursor c(data, size);
  uint16_t count = 0;
  if (size >= 4 && data[2] == 0xFF && data[3] == 0xFF) {
    info.extended = true;
    c.U16();  // dlgVer
    c.U16();  // signature
    c.U32();  // helpID
    c.U32();  // exStyle
    info.style = c.U32();
  } else {
    info.style = c.U32();
    c.U32();  // exStyle
  }
  count = c.U16();
  info.x = static_cast<int16_t>(c.U16());
  info.y = static_cast<int16_t>(c.U16());
  info.cx = static_cast<int16_t>(c.U16());
  info.cy = static_cast<int16_t>(c.U16());
  c.SkipNameOrOrdinal();  // menu
  c.SkipNameOrOrdinal();  // class
  c.Text(0);              // title
  if (info.style & kDialogStyleSetFont) {
    info.hasFont = true;
    info.pointSize = c.U16();
    if (info.extended) {
      info.weight = c.U16();
      info.italic = c.U8();
      c.U8();  // charset
    }
    info.face = c.Text(32);
  }
  if (!c.Ok()) return false;

  for (uint16_t i = 0; i < count; ++i) {
    c.Align4();
    DialogItemInfo item;
    if (info.extended) {
      c.U32();  // helpID
      c.U32();  // exStyle
      c.U32();  // style
    } else {
      c.U32();  // style
      c.U32();  // exStyle
    }
    item.x = static_cast<int16_t>(c.U16());
    item.y = static_cast<int16_t>(c.U16());
    item.cx = static_cast<int16_t>(c.U16());
    item.cy = static_cast<int16_t>(c.U16());
    item.id = info.extended ? c.U32() : c.U16();
    c.SkipNameOrOrdinal();  // class
    c.SkipNameOrOrdinal();  // title
    uint16_t extra = c.U16();
    c.Skip(extra);
    if (!c.Ok()) break;
    items.push_back(item);
  }
  return true;
}
