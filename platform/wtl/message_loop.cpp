// GetMessage loop with the registered filters in front of dispatch.
#include "platform/wtl/message_loop.h"

#include <algorithm>

namespace wtl {
namespace {
CMessageLoop* g_loop = nullptr;
}

void CMessageLoop::AddFilter(CMessageFilter* filter) {
  if (filter != nullptr && std::find(filters_.begin(), filters_.end(), filter) == filters_.end()) {
    filters_.push_back(filter);
  }
}

void CMessageLoop::RemoveFilter(CMessageFilter* filter) {
  filters_.erase(std::remove(filters_.begin(), filters_.end(), filter), filters_.end());
}

int CMessageLoop::Run() {
  MSG message{};
  for (;;) {
    BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
    if (got == 0) break;   // WM_QUIT
    if (got == -1) continue;
    bool consumed = false;
    // Newest filter first; a filter may remove itself while it runs.
    for (size_t i = filters_.size(); i-- > 0 && !consumed;) {
      if (i < filters_.size()) consumed = filters_[i]->PreTranslateMessage(&message);
    }
    if (!consumed) {
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
  }
  return static_cast<int>(message.wParam);
}

CMessageLoop* ThreadLoop() { return g_loop; }
void SetThreadLoop(CMessageLoop* loop) { g_loop = loop; }

bool DialogMessageFilter(HWND dialog, MSG* message) {
  return dialog != nullptr && ::IsWindow(dialog) && ::IsDialogMessageW(dialog, message) != FALSE;
}

}  // namespace wtl
