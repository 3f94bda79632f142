// Bad-data detection of a download handle: one block at a time is put to the
// test; the 1024-byte answers different peers give for it are grouped by their
// bytes, and when one group of at least two peers is larger than every other
// the peers of every other group are named bad. Clock injected. Platform-free.
#pragma once
#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace p2p {

class bad_data_detector {
 public:
  static constexpr uint32_t kNoBlock = 0xFFFFFFFFu;
  static constexpr uint32_t kBlockBytes = 1024;
  // A test is replaced by an answer that arrives this long after it began.
  static constexpr uint32_t kTestLifetimeMs = 360000;
  // A peer that answered the test block is not asked for it again this soon.
  static constexpr uint32_t kAskAgainMs = 60000;

  struct group {
    std::array<uint8_t, kBlockBytes> bytes;
    std::map<uint64_t, uint32_t> peers;  // user id -> tick of its answer
    uint32_t prefix() const;              // the first four bytes as a u32
  };

  // Records peer's answer for block (1024 bytes) and appends the peers it now
  // names bad to `bad`. True when a verdict was reached.
  bool add_answer(uint32_t block, uint64_t peer, const uint8_t* data, uint32_t now_ms, std::vector<uint64_t>& bad);
  // The block this peer should be asked for first, or kNoBlock.
  uint32_t block_for_peer(uint64_t peer, uint32_t now_ms) const;

  uint32_t block_under_test() const { return block_; }
  const std::vector<group>& groups() const { return groups_; }
  // Of the groups whose answer is not all-zero in its first four bytes, the
  // one with the most peers when it has two or more and no other has as
  // many; else -1.
  int good_group() const;
  // The verdict as the log shows it: "shit : answer groups:%d block_id:%d\r\n"
  // and one line per group.
  std::string verdict_text() const;

 private:
  bool testing_ = false;
  uint32_t block_ = kNoBlock;
  uint32_t start_ = 0;
  std::vector<group> groups_;
};

}  // namespace p2p
