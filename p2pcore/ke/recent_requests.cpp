// The recently requested files: which shares peers asked for in the last 30
// seconds, so that a paused upload still serves them.
#include "p2pcore/ke/recent_requests.h"

#include <ctime>

#include "foundation/sync/locks.h"
#include "p2pcore/codec/texts.h"
#include "p2pcore/p2pbase/inc/p2plog.h"

namespace p2p {

high_priority_file_manager::high_priority_file_manager() {}

high_priority_file_manager* get_high_priority_file_manager() {
  static high_priority_file_manager* m = new high_priority_file_manager;
  return m;
}

void high_priority_file_manager::check_timeout(uint64_t now) {
  CLockGuard h(lock_);
  if (now - last_pass_ < 11) return;
  P2P_LOG(9, "high_priority_file_manager::check_timeout totoal file [%d]", int(files_.size()));
  for (auto it = files_.begin(); it != files_.end();) {
    if (now - it->second < 30) {
      P2P_LOG(9, "high_priority_file_manager::check_timeout pubfile fid[%s]", it->first.c_str());
      ++it;
    } else {
      P2P_LOG(9, "high_priority_file_manager::check_timeout timeout fid[%s]", it->first.c_str());
      it = files_.erase(it);
    }
  }
  last_pass_ = now;
}

int high_priority_file_manager::note_request(const uint8_t* fid, int kind) {
  if (!fid) return 0;
  const uint64_t now = uint64_t(std::time(nullptr));
  check_timeout(now);
  const std::string hex = hash_hex(fid);
  CLockGuard h(lock_);
  if (kind == 8) {
    files_[hex] = now;
    return 1;
  }
  return (!files_.empty() && files_.find(hex) == files_.end()) ? 0 : 1;
}

int high_priority_file_manager::is_not_listed(const uint8_t* fid) {
  if (!fid) return 1;
  CLockGuard h(lock_);
  return files_.count(hash_hex(fid)) ? 0 : 1;
}

void high_priority_file_manager::remove(const std::string& fid_hex) {
  CLockGuard h(lock_);
  files_.erase(fid_hex);
}

void high_priority_file_manager::clear(uint64_t now) {
  CLockGuard h(lock_);
  files_.clear();
  last_pass_ = now;
}

size_t high_priority_file_manager::size() {
  CLockGuard h(lock_);
  return files_.size();
}

}  // namespace p2p
