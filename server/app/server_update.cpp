// CServer's automatic update: initialisation, the periodic checks and the
// install of a pending update once the publish queue has been idle long enough.
#include "server/app/server.h"

#include "foundation/channel/tcp_channel.h"
#include "foundation/log/server_logs.h"
#include "platform/vxaucommon/vxaucommon.h"
#include "server/config/svr_config.h"
#include "server/control/server_state.h"

namespace {

uint32_t TickSeconds() { return static_cast<uint32_t>(GetTickCount64() / 1000); }

std::wstring Wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

}  // namespace

int CServer::InitAutoUpdate() {
  int result = AU::InitAutoUpdate(window_, L"wrensvr", Wide(version_).c_str(), L"");
  if (result < 0) {
    WriteLog(&g_MainLog, 1, "InitAutoUpdate Error(%d)", result);
    return 0;
  }
  for (int i = 0; i < 3; ++i) updateMessages_[i] = AU::GetAutoUpdateMessageID(i);
  WriteLog(&g_MainLog, 1, "InitAutoUpdate OK");
  CheckAutoUpdate();
  updateTickTimer_ = SetTimer(window_, kTimerUpdateTick, 1000, nullptr);
  updatePollTimer_ = SetTimer(window_, kTimerUpdatePoll, 3000, nullptr);
  return 1;
}

void CServer::CheckAutoUpdate() {
  uint32_t now = TickSeconds();
  if (lastCheck_ == 0) {
    AU::StartAutoUpdate(0);
    lastCheck_ = now ? now : 1;
    checkInterval_ = static_cast<uint32_t>(AU::GetNextPreferedCheckInterval());
    WriteLog(&g_MainLog, 1, "NextPreferedCheckInterval %d", static_cast<int>(checkInterval_));
  } else if (now - lastCheck_ > checkInterval_) {
    AU::StartAutoUpdate(0);
    lastCheck_ = now ? now : 1;
    checkInterval_ = static_cast<uint32_t>(AU::GetNextPreferedCheckInterval());
  }

  if (!pendingUpdateFound_) return;
  if (PublishQueueLength() > 0)
    idleTicks_ = 0;
  else
    ++idleTicks_;
  if (idleTicks_ < static_cast<uint32_t>(g_SvrConfig.waitTime < 0 ? 0 : g_SvrConfig.waitTime)) return;

  WriteLog(&g_MainLog, 1, "AutoUpdate - Start install update&exit");
  KillTimer(window_, kTimerUpdateTick);
  updateTickTimer_ = 0;
  if (updateInstallPending_) {
    // The update library ends the program once the pending update is in place.
    StopOnce();
    AU::InstallUpdate();
    AU::InstallPendingUpdate();
  } else {
    AU::InstallUpdate();
    PostMessageW(window_, WM_CLOSE, 0, 0);
  }
}
