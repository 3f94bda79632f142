// OrchardUI's entry: set-up in order, RunUi, and teardown in reverse.
#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include "foundation/util/path_ops.h"
#include "monitor/crash/crash_reporter.h"
#include "platform/wtl/module.h"
#include "ui/app/languages.h"
#include "ui/app/run_ui.h"
#include "ui/layout/dialog_layout.h"
#include "ui/client_settings/ui_config.h"
#include "ui/client_settings/ui_log.h"

namespace {

std::wstring ProgramPath() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return path;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE /*previous*/, PWSTR commandLine, int showCommand) {
  wtl::InitModule(instance);
  CoInitialize(nullptr);

  std::wstring logPath = ModulePathOf(L"od_client.Log");
  if (!logPath.empty()) {
    SetUiLogThreshold(1);
    OpenUiLog(logPath);
  }

  CMultiLanguage& languages = Languages();
  if (languages.Empty()) {
    languages.AddLanguage(GetUserDefaultLangID());
    languages.AddLanguage(GetSystemDefaultLangID());
    AddUiLanguages(languages);
  }
  HMODULE languageLibrary = LoadLanguageDll(languages, ProgramPath());
  if (languageLibrary != nullptr) wtl::SetResourceInstance(languageLibrary);

  // Every class the dialogs use: Wine registers them all at load, Windows only these.
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES | ICC_TAB_CLASSES | ICC_LISTVIEW_CLASSES |
                                                     ICC_TREEVIEW_CLASSES | ICC_DATE_CLASSES | ICC_INTERNET_CLASSES};
  InitCommonControlsEx(&controls);

  InstallInvalidArgumentHandlers();
  InstallCrashReporter(0);

  DialogLayoutStartup();
  WSADATA wsa;
  WSAStartup(0x0101, &wsa);
  std::wstring configPath = UiConfigPath();
  LoadUiConfig(configPath, Config());

  int result = RunUi(commandLine != nullptr ? commandLine : L"", showCommand);

  WSACleanup();
  SaveUiConfig(configPath, Config());
  if (languageLibrary != nullptr) {
    wtl::SetResourceInstance(instance);
    FreeLibrary(languageLibrary);
  }
  if (IsUiLogOpen()) CloseUiLog();
  DialogLayoutShutdown();
  CoUninitialize();
  return result;
}
