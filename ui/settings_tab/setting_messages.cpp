// Texts and boxes of the settings pages' refusals.
#include "ui/settings_tab/setting_messages.h"

#include "ui/app/res_string.h"
#include "ui/client/control_client.h"
#include "ui/res/resource.h"

std::wstring RefusalText(int result, const std::wstring& serverText) {
  if (!serverText.empty()) return serverText;
  switch (result) {
    case kResultTransportFailed:
      return LoadResString(IDS_SETTING_UNREACHABLE);
    case static_cast<int>(ControlStatus::NotLoggedIn):
      return LoadResString(IDS_P2P_NOT_LOGGED_IN);
    default:
      return FormatResString(IDS_SETTING_REFUSED, std::to_wstring(result));
  }
}

void ShowSettingMessage(HWND owner, const std::wstring& text) {
  MessageBoxW(owner, text.c_str(), LoadResString(IDS_APP_NAME).c_str(), MB_OK);
}

void ShowRefusals(HWND owner, const std::vector<std::wstring>& refusals) {
  if (refusals.empty()) return;
  std::wstring text;
  for (const std::wstring& line : refusals) text += (text.empty() ? L"" : L"\r\n") + line;
  ShowSettingMessage(owner, text);
}

void ShowPortRefusal(HWND owner, const std::wstring& text) { MessageBoxW(owner, text.c_str(), L"", MB_OK); }
