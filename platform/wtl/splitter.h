// CSplitterWindow: a child window split in two side-by-side panes by a bar
// that the user drags; each pane keeps at least a minimum width.
#pragma once
#include <windows.h>

#include "platform/wtl/window.h"

namespace wtl {

class CSplitterWindow : public CWindow {
 public:
  static constexpr int kBarWidth = 4;

  CSplitterWindow() = default;
  CSplitterWindow(const CSplitterWindow&) = delete;
  CSplitterWindow& operator=(const CSplitterWindow&) = delete;

  HWND Create(HWND parent, const RECT& rect);
  void SetPanes(HWND left, HWND right);
  void SetMinPaneWidth(int pixels) { minPane_ = pixels; }
  // The bar's left edge, in pixels from the left; kept within the minimum widths.
  void SetSplitterPos(int x);
  int SplitterPos() const { return pos_; }

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM w, LPARAM l);
  LRESULT OnMessage(UINT message, WPARAM w, LPARAM l);
  int Clamp(int x) const;
  void LayoutPanes() const;
  bool OnBar(int x) const { return x >= pos_ && x < pos_ + kBarWidth; }

  HWND panes_[2] = {nullptr, nullptr};
  int pos_ = 0;
  int minPane_ = 0;
  int dragOffset_ = -1;  // where the bar was grabbed, while dragging
};

}  // namespace wtl
