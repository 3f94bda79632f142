// Upload-user entries and the peer list copy.
#include "p2pcore/ke/uploaduser.h"

#include <cstdio>

#include "p2pcore/codec/texts.h"
#include "p2pcore/codec/upload_listing.h"

namespace p2p {

std::string upload_user_key(const uint8_t fid[16], uint64_t user_id) {
  char id[24];
  std::snprintf(id, sizeof id, "%lld", (long long)user_id);
  return hash_hex(fid) + "|" + id;
}

p2p_upload_user_manager::p2p_upload_user_manager() { InitializeCriticalSection(&lock_); }

p2p_upload_user_manager* get_upload_user_manager() {
  static p2p_upload_user_manager* m = new p2p_upload_user_manager;
  return m;
}

void p2p_upload_user_manager::init() { clear_users(); }

void p2p_upload_user_manager::clear_users() {
  EnterCriticalSection(&lock_);
  users_.clear();
  LeaveCriticalSection(&lock_);
}

void p2p_upload_user_manager::put_user(const upload_user_info& info) {
  EnterCriticalSection(&lock_);
  users_[upload_user_key(info.fid, info.user_id)] = info;
  LeaveCriticalSection(&lock_);
}

int p2p_upload_user_manager::copy_uplist(upload_user_info* rows, int max_rows, uint32_t now) {
  if (!rows || max_rows <= 0) return 0;
  int n = 0;
  EnterCriticalSection(&lock_);
  for (const auto& [key, info] : users_) {
    if (n >= max_rows) break;
    if (!upload_user_listed(now, info.created, info.first_transfer, info.last_transfer)) continue;
    rows[n++] = info;
  }
  LeaveCriticalSection(&lock_);
  return n;
}

size_t p2p_upload_user_manager::size() {
  EnterCriticalSection(&lock_);
  size_t n = users_.size();
  LeaveCriticalSection(&lock_);
  return n;
}

}  // namespace p2p
