// Our stand-in for Quillkit.dll: GBK to UTF-8, and simplified to traditional
// Chinese for a handful of characters, enough to carry texts along the path.
#include <windows.h>

#include <cstring>
#include <cwchar>

#include "platform/quillkit/quillkit.h"

namespace {

struct CharPair { wchar_t simplified, traditional; };
const CharPair kPairs[] = {
    {L'\u7B80', L'\u7C21'},  // jian
    {L'\u4F53', L'\u9AD4'},  // ti
    {L'\u56FD', L'\u570B'},  // guo
    {L'\u8BED', L'\u8A9E'},  // yu
    {L'\u7535', L'\u96FB'},  // dian
    {L'\u89C6', L'\u8996'},  // shi
    {L'\u5F71', L'\u5F71'},  // ying, the same in both
    {L'\u4E66', L'\u66F8'},  // shu
    {L'\u5B66', L'\u5B78'},  // xue
};

}  // namespace

extern "C" __declspec(dllexport) int Gb2312ToUtf8(const char* input, char* output) {
  if (input == nullptr || output == nullptr) return 0;
  const int inLen = static_cast<int>(strlen(input));
  output[0] = '\0';
  if (inLen == 0) return 0;
  const int wideLen = MultiByteToWideChar(936, 0, input, inLen, nullptr, 0);
  if (wideLen <= 0) return 0;
  wchar_t* wide = static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), 0, wideLen * sizeof(wchar_t)));
  if (wide == nullptr) return 0;
  MultiByteToWideChar(936, 0, input, inLen, wide, wideLen);
  // A GBK character of one or two bytes never takes more than twice as many in UTF-8.
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide, wideLen, output, inLen * 2, nullptr, nullptr);
  HeapFree(GetProcessHeap(), 0, wide);
  if (n <= 0) return 0;
  output[n] = '\0';
  return n;
}

extern "C" __declspec(dllexport) wchar_t* GBKSimplified2GBKTraditional(const wchar_t* text) {
  if (text == nullptr) return nullptr;
  const size_t n = wcslen(text);
  auto* out = static_cast<wchar_t*>(
      VirtualAlloc(nullptr, (n + 1) * sizeof(wchar_t), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  if (out == nullptr) return nullptr;
  for (size_t i = 0; i < n; ++i) {
    out[i] = text[i];
    for (const CharPair& p : kPairs) {
      if (p.simplified == text[i]) out[i] = p.traditional;
    }
  }
  out[n] = L'\0';
  return out;
}
