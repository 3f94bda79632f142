// Win32 half of the language choice: locale queries and LoadLibraryW.
#include "ui/app/languages.h"

#include "ui/client_settings/ui_log.h"
#include "foundation/util/code_pages.h"

namespace {
uint16_t ConvertLocale(uint16_t id) { return static_cast<uint16_t>(ConvertDefaultLocale(id)); }
}  // namespace

CMultiLanguage& Languages() {
  static CMultiLanguage languages(ConvertLocale);
  return languages;
}

void AddUiLanguages(CMultiLanguage& languages) {
  using LangFn = LANGID(WINAPI*)();
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  auto user = kernel != nullptr ? reinterpret_cast<LangFn>(
                                      reinterpret_cast<void*>(GetProcAddress(kernel, "GetUserDefaultUILanguage")))
                                : nullptr;
  auto system = kernel != nullptr ? reinterpret_cast<LangFn>(reinterpret_cast<void*>(
                                        GetProcAddress(kernel, "GetSystemDefaultUILanguage")))
                                  : nullptr;
  // Every system this program runs on has both; the older fallbacks are left out.
  if (user != nullptr) {
    languages.AddLanguage(user());
    if (system != nullptr) languages.AddLanguage(system());
  }
  languages.AddSystemDefault();
}

HMODULE LoadLanguageDll(const CMultiLanguage& languages, const std::wstring& programPath) {
  std::u16string program(programPath.begin(), programPath.end());
  for (uint16_t id : languages.Candidates()) {
    wchar_t code[8] = L"LOC";
    if (id != kSystemDefaultLanguage && GetLocaleInfoW(id, LOCALE_SABBREVLANGNAME, code, 4) == 0) return nullptr;
    WriteUiLog(1, "language - %s", WideToNarrow(code, CP_ACP).c_str());
    std::wstring wideCode = code;
    auto path = LanguageLibraryPath(program, std::u16string(wideCode.begin(), wideCode.end()));
    if (!path) return nullptr;
    std::wstring file(path->begin(), path->end());
    WriteUiLog(1, "language - %s", WideToNarrow(file, CP_ACP).c_str());
    HMODULE library = LoadLibraryW(file.c_str());
    if (library != nullptr) return library;
  }
  return nullptr;
}
