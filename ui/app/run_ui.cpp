// What OrchardUI does between start-up and teardown.
#include "ui/app/run_ui.h"

#include <windows.h>

#include <string>

#include "foundation/channel/tcp_channel.h"
#include "foundation/util/service_ops.h"
#include "platform/wtl/message_loop.h"
#include "ui/app/codec/command_line.h"
#include "ui/client/control_client.h"
#include "ui/dialogs/conn_dlg.h"
#include "ui/dialogs/main_dlg.h"
#include "ui/client_settings/ui_log.h"

namespace {

BOOL CALLBACK CloseEnumWindowsProc(HWND window, LPARAM /*parameter*/) {
  wchar_t title[101] = {};
  if (GetWindowTextW(window, title, 101) > 0 && lstrcmpW(title, L"Orchard") == 0) {
    PostMessageW(window, kExitMessage, 0, 0);
  }
  return TRUE;
}

}  // namespace

int RunMonitorStart() {
  const auto log = [](const std::string& line) { WriteUiLog(1, "%s", line.c_str()); };
  return RunMonitor(L" -start", log, nullptr, MonitorCommandLine::kSwitchOnly) ? 1 : 0;
}

int RunUi(const std::wstring& commandLine, int showCommand) {
  if (IsCloseSwitch(std::u16string_view(reinterpret_cast<const char16_t*>(commandLine.c_str()), commandLine.size()))) {
    if (TcpClientConnect("127.0.0.1", 9090) == kChannelOk) {
      CloseServer();
      TcpClientClose();
    }
    EnumWindows(CloseEnumWindowsProc, 0);
    return 0;
  }

  wtl::CMessageLoop loop;
  wtl::SetThreadLoop(&loop);
  int result = 0;
  {
    CConnDlg login;
    if (login.DoModal(GetActiveWindow()) == IDOK) {
      CMainDlg main;
      if (main.Create(nullptr) == nullptr) {
        TcpClientClose();
        wtl::SetThreadLoop(nullptr);
        return 0;
      }
      main.Move(0, 0, 800, 600);
      main.Center(nullptr);
      main.Show(showCommand);
      SetPropW(main.Handle(), L"OD_Orchard", reinterpret_cast<HANDLE>(1));
      result = loop.Run();
      if (main.Handle() != nullptr) RemovePropW(main.Handle(), L"OD_Orchard");
    }
  }
  TcpClientClose();
  wtl::SetThreadLoop(nullptr);
  return result;
}
