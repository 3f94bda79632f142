// Upload users as the peer list shows them (p2p_upload_user_manager): one
// entry per peer and file, keyed "%s|%I64d" (file hash in hex, user id).
// The upload side that creates and updates the entries builds on this.
#pragma once
#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <map>
#include <string>

#include "p2pcore/seedlift_api.h"

namespace p2p {

std::string upload_user_key(const uint8_t fid[16], uint64_t user_id);

class p2p_upload_user_manager {
 public:
  p2p_upload_user_manager();
  void init();
  void clear_users();
  // Adds the entry or replaces the one with the same key.
  void put_user(const upload_user_info& info);
  // Rows of the listed users (see upload_user_listed), at most max_rows.
  int copy_uplist(upload_user_info* rows, int max_rows, uint32_t now);
  size_t size();

 private:
  CRITICAL_SECTION lock_;
  std::map<std::string, upload_user_info> users_;
};

p2p_upload_user_manager* get_upload_user_manager();

}  // namespace p2p
