// Publishing within OrchardSvc's life, and the P2P core's share list as the
// publish manager sees it.
#include "server/publish/publish_service.h"

#include "foundation/log/server_logs.h"
#include "foundation/sync/worker_thread.h"
#include "server/control/p2p_api.h"
#include "server/control/server_state.h"
#include "server/hash/hash_serial.h"
#include "server/ftp/ftp_shares.h"
#include "server/publish/publish_manager.h"
#include "server/publish/publish_task.h"

namespace {
class CP2pShareCore : public IShareCore {
 public:
  bool IsLoggedIn() override { return P2pLoggedIn(); }
  int AddShare(const wchar_t* path, uint64_t size, const uint8_t fid[16]) override {
    return p2p_add_share(path, size, fid);
  }
  void DeleteShare(const uint8_t fid[16]) override { p2p_delete_share_byfid(fid, 16, 0); }
};

CP2pShareCore g_shareCore;
}  // namespace

uint32_t PublishedDirectoryCount() { return static_cast<uint32_t>(PublishManager().Dirs().size()); }

int InitPublishing(const std::wstring& dataDir) {
  CHashSerial::GetInstance()->SetDataDir(dataDir);
  PublishManager().SetShareCore(&g_shareCore);
  PublishManager().SetFtpShares(&FtpShares());
  CPublishTask* task = CPublishTask::GetInstance();
  task->SetShareCore(&g_shareCore);
  task->SetLookupClient(&HttpLookupClient());
  task->SetReportClient(&HttpReportClient());
  PublishManager().SetQueue(task);
  return PublishManager().LoadFromDatabase();
}

void StartPublishingAtLogin() {
  PublishManager().StartLoader();
  CPublishTask::GetInstance()->Start();
}

void StopPublishing() {
  PublishManager().UnInit();  // the loader, then the publish and report threads
  // A thread left running (a command, the watcher, the loader, the publish or
  // report thread) may still be about to queue a file or read a hash record:
  // the task and the hash-record store stay for it.
  if (ThreadsLeftRunning() > 0) {
    WriteLog(&g_MainLog, 3, "UnInit - publishing kept for %d thread(s) left running", ThreadsLeftRunning());
    return;
  }
  PublishManager().SetQueue(nullptr);
  CPublishTask::FreeInstance();
  CHashSerial::FreeInstance();
}
