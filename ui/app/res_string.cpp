// At most 259 characters, from the resource instance of the window module.
#include "ui/app/res_string.h"

#include <windows.h>

#include "platform/wtl/module.h"

std::wstring LoadResString(unsigned id) {
  wchar_t buffer[260] = {};
  int n = LoadStringW(wtl::ResourceInstance(), id, buffer, 260);
  return std::wstring(buffer, n > 0 ? static_cast<size_t>(n) : 0);
}
