// Simplified to traditional Chinese through Quillkit.dll.
#include "foundation/util/traditional_chinese.h"

#include <windows.h>

#include <vector>

#include "foundation/util/code_pages.h"
#include "platform/quillkit/quillkit.h"

namespace {

constexpr size_t kTextMax = 260;  // bytes of GBK and units of UTF-16 handed over

// Cuts GBK text to at most max bytes without splitting a double-byte character.
std::string CutGbk(std::string text, size_t max) {
  if (text.size() <= max) return text;
  size_t end = 0;
  while (end < text.size()) {
    const size_t len = static_cast<unsigned char>(text[end]) >= 0x81 ? 2 : 1;
    if (end + len > max) break;
    end += len;
  }
  text.resize(end);
  return text;
}

}  // namespace

std::wstring SimplifiedToTraditional(std::wstring_view text, const wchar_t* library) {
  std::wstring result(text);
  if (text.empty()) return result;
  HMODULE module = LoadLibraryW(library);
  if (module == nullptr) return result;
  auto toUtf8 = reinterpret_cast<Gb2312ToUtf8Fn>(reinterpret_cast<void*>(GetProcAddress(module, "Gb2312ToUtf8")));
  auto toTraditional = reinterpret_cast<GBKSimplified2GBKTraditionalFn>(
      reinterpret_cast<void*>(GetProcAddress(module, "GBKSimplified2GBKTraditional")));
  if (toUtf8 != nullptr && toTraditional != nullptr) {
    // GB2312 is what the library reads, so the text goes over in GBK
    // whatever the machine's code page.
    const std::string gbk = CutGbk(Utf16ToGbk(text), kTextMax);
    std::vector<char> utf8(gbk.size() * 2 + 1, '\0');
    toUtf8(gbk.c_str(), utf8.data());
    utf8.back() = '\0';
    std::wstring wide = NarrowToWide(utf8.data(), CP_UTF8);
    if (wide.size() > kTextMax) wide.resize(kTextMax);
    if (!wide.empty()) {
      wchar_t* converted = toTraditional(wide.c_str());
      if (converted != nullptr) {
        result.assign(converted);
        VirtualFree(converted, 0, MEM_RELEASE);
      }
    }
  }
  FreeLibrary(module);
  return result;
}

std::string SimplifiedToTraditional(std::string_view ansiText) {
  if (ansiText.empty()) return std::string();
  const std::wstring wide = NarrowToWide(ansiText, CP_ACP);
  if (wide.empty()) return std::string(ansiText);
  const std::wstring traditional = SimplifiedToTraditional(wide);
  if (traditional == wide) return std::string(ansiText);
  const std::string back = WideToNarrow(traditional, CP_ACP);
  return back.empty() ? std::string(ansiText) : back;
}
