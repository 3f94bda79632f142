// The bad-data detector of a download handle (ShitDetect): the grouping of
// test-block answers (codec/bad_data_detector.h) on the system tick, with its
// verdict written to the log.
#pragma once
#include <cstdint>
#include <vector>

#include "p2pcore/codec/bad_data_detector.h"

namespace p2p {

class ShitDetect {
 public:
  // Records one 1024-byte answer; the peers it names bad are appended to `bad`.
  // With `log` set the groups are written to the log at level 9.
  void add_answer(uint32_t block, uint64_t peer, const uint8_t* data, bool log, std::vector<uint64_t>& bad);
  // Writes the groups as they stand.
  void log_groups() const;
  // The block this peer should be asked for first, or bad_data_detector::kNoBlock.
  uint32_t block_for_peer(uint64_t peer) const;

 private:
  bad_data_detector detector_;
};

}  // namespace p2p
