// CServer: the hidden controller window of OrchardSvc. Its thread runs the
// message loop, the four timers, the start and stop of the FTP server, the
// P2P core and automatic update, and the orderly shutdown.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "server/ftp/ftp_library.h"

constexpr UINT_PTR kTimerP2pLogin = 1532;      // every 1 s until the core logs in
constexpr UINT_PTR kTimerUpdateTick = 1533;    // every 1 s
constexpr UINT_PTR kTimerFtpHeartbeat = 1534;  // every 10 s while the FTP side runs
constexpr UINT_PTR kTimerUpdatePoll = 1535;    // every 3 s until an update is pending
constexpr UINT kMsgFtpAccount = WM_APP + 1;    // posted by the FTP library's callback

constexpr const char* kChannelAddress = "127.0.0.1";
constexpr uint32_t kChannelPort = 9090;

class CServer {
 public:
  CServer() = default;
  virtual ~CServer();
  CServer(const CServer&) = delete;
  CServer& operator=(const CServer&) = delete;

  // Result of Create.
  enum CreateResult { kCreated = 1, kNoWindow = 0 };
  // Registers the class, creates the window, starts the control channel, the
  // update library and the services. A missing window fails it; a channel
  // that cannot start is logged and the rest starts without it.
  int Create(HINSTANCE instance);

  int StartServices();
  int StartFtpServer();
  int StartP2PServer();
  void StopServer();
  void StopFtpServer();
  void StopP2PServer();
  void PauseP2PServer(int flag);

  void OnTimer(UINT_PTR id);
  int InitAutoUpdate();
  void CheckAutoUpdate();

  HWND Window() const { return window_; }
  const std::string& VersionText() const { return version_; }
  void SetVersionText(const std::string& version) { version_ = version; }

  static int FtpStatusCallback(int type, const FtpEventRecord* record);

 private:
  friend LRESULT CALLBACK ServerWndProc(HWND, UINT, WPARAM, LPARAM);
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void PollP2pLogin();
  // Stops the channel and the services; only the first call acts, whichever
  // of WM_CLOSE, command 129 or the update library asks first.
  void StopOnce();
  // StopOnce, then leave the message loop.
  void CloseSequence();

  HWND window_ = nullptr;
  int updateInstallPending_ = 0;
  uint32_t lastCheck_ = 0;  // seconds of the tick count; 0 = no check yet
  uint32_t checkInterval_ = 0;
  UINT_PTR updatePollTimer_ = 0;
  int pendingUpdateFound_ = 0;
  uint32_t idleTicks_ = 0;
  UINT_PTR updateTickTimer_ = 0;
  UINT_PTR p2pLoginTimer_ = 0;
  UINT_PTR ftpHeartbeatTimer_ = 0;
  UINT updateMessages_[3] = {};
  bool stopped_ = false;
  std::string version_ = "0.0.0.0";
};

LRESULT CALLBACK ServerWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The one server object, for code that must reach its window.
extern CServer* g_Server;
