// CServer's services: the FTP and P2P starts, the P2P login poll, the
// timers and the stop sequence.
#include "server/app/server.h"

#include "foundation/log/server_logs.h"
#include "platform/vxaucommon/vxaucommon.h"
#include "foundation/util/code_pages.h"
#include "foundation/util/module_info.h"
#include "foundation/util/path_ops.h"
#include "foundation/util/service_ops.h"
#include "server/config/svr_config.h"
#include "server/control/p2p_api.h"
#include "server/control/server_state.h"
#include "server/ftp/ftp_shares.h"
#include "server/links/auto_publish.h"
#include "server/publish/publish_manager.h"
#include "server/publish/publish_service.h"
#include "server/watch/dir_watcher.h"

namespace {
// Time for "OrchardMon.exe -stop" to start and have the watchdog service
// stop its watch, before the server goes away regardless.
constexpr DWORD kMonitorStopWaitMs = 10000;
}  // namespace

int CServer::StartServices() {
  SetServerStatus(kStatusStarting);
  int result = 0;
  if (g_SvrConfig.serviceType & kServiceFtp) {
    result = StartFtpServer();
    SetServerStatus(kStatusFtpStarting);
  }
  if (g_SvrConfig.serviceType & kServiceP2p) {
    result = StartP2PServer();
    SetServerStatus(kStatusP2pStarting);
  }
  return result;
}

int CServer::StartFtpServer() {
  std::wstring path = QueryServiceInfo();
  if (path.size() >= 2 && path.front() == L'"') path = path.substr(1, path.size() - 2);
  if (path.empty()) path = ModulePathOf(L"od_svr_ftp.exe");
  if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) return 0;  // no FTP side: no timer, no log-on
  WriteLog(&g_MainLog, 1, "Ferryline Init - Param:%s", Utf16ToGbk(path).c_str());
  if (!FRLI_Init(path.c_str(), FtpStatusCallback, this)) return 0;
  if (!FRLI_StartSvr()) return 0;
  ftpHeartbeatTimer_ = SetTimer(window_, kTimerFtpHeartbeat, 10000, nullptr);
  return FRLI_LogOn();
}

int CServer::FtpStatusCallback(int type, const FtpEventRecord* record) {
  if (!record || !record->context) return 0;
  auto* server = static_cast<CServer*>(record->context);
  switch (type) {
    case 0: WriteLog(&g_MainLog, 1, "FTP - Connectting"); break;
    case 1: WriteLog(&g_MainLog, 1, "FTP - Connected"); break;
    case 2: WriteLog(&g_MainLog, 1, "FTP - Logon"); break;
    case 3: WriteLog(&g_MainLog, 1, "FTP - CServer close"); break;
    case 5:
      WriteLog(&g_MainLog, 1, "FTP - Get setting");
      g_SvrConfig.LoadServerAddress();
      break;
    case 6:
      WriteLog(&g_MainLog, 1, "FTP - Get account");
      PostMessageW(server->window_, kMsgFtpAccount, 0, 0);
      break;
    default: break;
  }
  return 1;
}

int CServer::StartP2PServer() {
  // A port outside the u16 range is refused like port 0, never wrapped onto another.
  const int port = g_SvrConfig.p2pPort;
  if (!p2p_initialize_network(static_cast<uint16_t>(port > 0 && port <= 0xFFFF ? port : 0))) return 0;
  if (!p2p_initialize()) {
    WriteLog(&g_MainLog, 1, "P2PSvr - Init Error");
    return 0;
  }
  set_p2p_node_type(5);
  WriteLog(&g_MainLog, 1, "P2PSvr - Init OK");
  p2pLoginTimer_ = SetTimer(window_, kTimerP2pLogin, 1000, nullptr);
  SetServerStatus(kStatusP2pInit);
  return 1;
}

void CServer::PollP2pLogin() {
  if (P2pLoggedIn()) return;
  P2pIdentity id;
  if (!get_p2p_id(&id.machineId, &id.nodeId, &id.natClass, &id.natDetail, &id.publicIp, &id.publicPort, &id.lanIp,
                  &id.lanPort))
    return;
  SetServerStatus(kStatusP2pLoggedIn);
  WriteLog(&g_MainLog, 1, "P2PSvr - Running...");
  SetP2pLoggedIn(id);
  g_SvrConfig.ApplyP2PSettings();
  // The loader, when it runs, starts the watch once the stored files are shared
  // again; the watcher is told first, as a short load may end at once.
  DirWatcher().Enable(PublishManager().LoadQueueSize() > 0);
  StartPublishingAtLogin();  // the loader and the publish thread
  AutoPublish().Start();
  KillTimer(window_, kTimerP2pLogin);
  p2pLoginTimer_ = 0;
}

void CServer::OnTimer(UINT_PTR id) {
  if (id == kTimerFtpHeartbeat) {
    FRLI_HeartBeat();
  } else if (id == kTimerP2pLogin) {
    PollP2pLogin();
  } else if (id == kTimerUpdateTick) {
    CheckAutoUpdate();
  } else if (id == kTimerUpdatePoll) {
    if (AU::HasPendingUpdate()) {
      WriteLog(&g_MainLog, 1, "AutoUpdate - HasPendingUpdate");
      pendingUpdateFound_ = 1;
      KillTimer(window_, kTimerUpdatePoll);
      updatePollTimer_ = 0;
    }
  }
}

void CServer::StopFtpServer() {
  KillTimer(window_, kTimerFtpHeartbeat);
  ftpHeartbeatTimer_ = 0;
  FRLI_LogOut();
  FRLI_StopSvr();
  FRLI_Term();
  WriteLog(&g_MainLog, 1, "UnInit - FTPSvr");
  SetServerStatus(kStatusFtpStopped);
}

void CServer::StopP2PServer() {
  p2p_uninitialize();
  ClearP2pLoggedIn();
  WriteLog(&g_MainLog, 1, "UnInit - P2PSvr");
  SetServerStatus(kStatusP2pLoggedOut);
}

void CServer::PauseP2PServer(int flag) {
  p2p_pause_upload(flag != 0);
  SetServerStatus(kStatusP2pPaused);
}

void CServer::StopServer() {
  WriteLog(&g_MainLog, 1, "Stop Server");
  // The watchdog service goes first, so it does not start the server again.
  // Its stop is awaited at the end: were the server gone before the service
  // heard of it, the watch would take the exit for a crash and restart it.
  HANDLE monitor = nullptr;
  RunMonitor(L" -stop", [](const std::string& line) { WriteLog(&g_MainLog, 1, "%s", line.c_str()); }, &monitor);
  AutoPublish().Stop();
  DirWatcher().UnInit();
  StopPublishing();
  StopFtpServer();
  StopP2PServer();
  SetServerStatus(kStatusStopped);
  if (monitor != nullptr) {
    WaitForSingleObject(monitor, kMonitorStopWaitMs);
    CloseHandle(monitor);
  }
}
