// The thread's message loop: filters (modeless dialogs) see each message
// first, so that their keyboard navigation works.
#pragma once
#include <windows.h>

#include <vector>

namespace wtl {

class CMessageFilter {
 public:
  virtual ~CMessageFilter() = default;
  // True when the message was consumed.
  virtual bool PreTranslateMessage(MSG* message) = 0;
};

class CMessageLoop {
 public:
  void AddFilter(CMessageFilter* filter);
  void RemoveFilter(CMessageFilter* filter);
  // Runs until WM_QUIT; returns its exit code.
  int Run();

 private:
  std::vector<CMessageFilter*> filters_;
};

// The loop registered for the user-interface thread, or null.
CMessageLoop* ThreadLoop();
void SetThreadLoop(CMessageLoop* loop);

// A filter that gives a modeless dialog its dialog keyboard handling.
bool DialogMessageFilter(HWND dialog, MSG* message);

}  // namespace wtl
