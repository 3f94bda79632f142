// The recently requested files (high_priority_file_manager), by the hex text
// of their file id with the time of the last request.
#pragma once
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "foundation/sync/locks.h"

namespace p2p {

class high_priority_file_manager {
 public:
  high_priority_file_manager();
  // Kind 8 adds or refreshes the fid and gives 1; other kinds give 0 when the
  // list holds files but not this one, else 1.
  int note_request(const uint8_t* fid, int kind);
  int is_not_listed(const uint8_t* fid);
  void remove(const std::string& fid_hex);
  void check_timeout(uint64_t now);
  void clear(uint64_t now);
  size_t size();

 private:
  CLock lock_;
  std::map<std::string, uint64_t> files_;
  uint64_t last_pass_ = 0;
};
high_priority_file_manager* get_high_priority_file_manager();

}  // namespace p2p
