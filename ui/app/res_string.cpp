// At most 259 characters, from the resource instance of the window module.
#include "ui/app/res_string.h"

#include <windows.h>

#include "platform/wtl/module.h"

std::wstring LoadResString(unsigned id) {
  wchar_t buffer[260] = {};
  int n = LoadStringW(wtl::ResourceInstance(), id, buffer, 260);
  return std::wstring(buffer, n > 0 ? static_cast<size_t>(n) : 0);
}

std::wstring FormatResString(unsigned id, std::wstring_view value) {
  std::wstring text = LoadResString(id);
  for (size_t at = text.find(L'%'); at != std::wstring::npos && at + 1 < text.size(); at = text.find(L'%', at + 2)) {
    if (text[at + 1] == L's' || text[at + 1] == L'd') return text.replace(at, 2, value);
  }
  return text;
}
