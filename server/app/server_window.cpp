// CServer's window: creation, the window procedure and the close sequence.
#include "server/app/server.h"

#include "foundation/channel/tcp_channel.h"
#include "foundation/log/server_logs.h"
#include "foundation/sync/worker_thread.h"
#include "platform/vxaucommon/vxaucommon.h"
#include "server/app/app_resources.h"
#include "server/config/svr_config.h"
#include "server/control/command_dispatch.h"
#include "server/control/server_state.h"
#include "server/ftp/ftp_shares.h"
#include "server/publish/publish_manager.h"
#include "server/publish/publish_service.h"
#include "server/watch/dir_watcher.h"

CServer* g_Server = nullptr;

namespace {
// The channel's own stop waits for its thread; a command still inside after
// that gets this long more.
constexpr unsigned kCommandStopWaitMs = 5000;
}  // namespace

CServer::~CServer() {
  if (window_ && IsWindow(window_)) DestroyWindow(window_);
  window_ = nullptr;
}

int CServer::Create(HINSTANCE instance) {
  wchar_t title[101] = {};
  wchar_t className[101] = {};
  LoadStringW(instance, IDS_SERVER_TITLE, title, 100);
  LoadStringW(instance, IDS_SERVER_CLASS, className, 100);

  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = ServerWndProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = className;
  RegisterClassExW(&wc);

  window_ = CreateWindowExW(0, className, title, WS_OVERLAPPEDWINDOW, 0, 0, 800, 600, nullptr, nullptr, instance,
                            nullptr);
  if (!window_) return kNoWindow;
  SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  SetServerWindow(window_);

  // Without its channel (port 9090 taken) the server still serves peers and
  // publishes what it has stored; only the user interface cannot reach it.
  const int channel = TcpServerStart(kChannelAddress, kChannelPort, OnTransferCommand);
  if (channel != 0)
    WriteLog(&g_MainLog, 3, "Initialize transfer module error %d", channel);
  else
    WriteLog(&g_MainLog, 1, "Initialize transfer module ok");

  InitAutoUpdate();
  ConnectDirWatcher();
  InitPublishing(g_SvrConfig.dataDir);
  StartServices();
  return kCreated;
}

void CServer::StopOnce() {
  if (stopped_) return;
  stopped_ = true;
  // Scans end at their next file, so a command publishing a large directory
  // lets the channel's thread go.
  PublishManager().BeginStop();
  TcpServerStop();
  if (!CloseCommands(kCommandStopWaitMs)) {
    WriteLog(&g_MainLog, 3, "UnInit transfer module - a command did not end in time; it is left running");
    NoteThreadLeftRunning();
  }
  WriteLog(&g_MainLog, 1, "UnInit transfer module");
  StopServer();
}

void CServer::CloseSequence() {
  StopOnce();
  PostQuitMessage(0);
}

LRESULT CServer::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_DESTROY:
      AU::UnInitAutoUpdate();
      WriteLog(&g_MainLog, 1, "WM_DESTROY");
      SetServerWindow(nullptr);
      return 0;
    case WM_CLOSE:
      WriteLog(&g_MainLog, 1, "WM_CLOSE");
      CloseSequence();
      return 0;  // the window stays until the server object goes
    case WM_TIMER:
      OnTimer(wParam);
      return 0;
    case kMsgFtpAccount:
      // Posted by the library's thread while the stop ran: the library has ended.
      if (stopped_) return 0;
      SetServerStatus(kStatusFtpLogon);
      WriteLog(&g_MainLog, 1, "Logon ftp server");
      {
        std::vector<std::wstring> dirs;
        for (const CPublishDir& d : PublishManager().Dirs())
          dirs.emplace_back(reinterpret_cast<const wchar_t*>(d.path), RecordPathLength(d.path));
        g_SvrConfig.SyncAccount(dirs);
      }
      return 0;
    default:
      break;
  }
  if (message != 0) {
    if (message == updateMessages_[0]) {
      WriteLog(&g_MainLog, 1, "AutoUpdate - avalible");
      AU::InstallUpdate();
      return 0;
    }
    if (message == updateMessages_[1]) {
      WriteLog(&g_MainLog, 1, "AutoUpdate - complete");
      AU::DisplayUpdateNotify();
      if (AU::HasPendingUpdate()) {
        WriteLog(&g_MainLog, 1, "AutoUpdate - HasPendingUpdate");
        updateInstallPending_ = 1;
      }
      return 0;
    }
    if (message == updateMessages_[2]) {
      WriteLog(&g_MainLog, 1, "AutoUpdate - product quit");
      CloseSequence();
      return 0;
    }
  }
  return DefWindowProcW(window_, message, wParam, lParam);
}

LRESULT CALLBACK ServerWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* server = reinterpret_cast<CServer*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!server) return DefWindowProcW(window, message, wParam, lParam);
  return server->OnMessage(message, wParam, lParam);
}
