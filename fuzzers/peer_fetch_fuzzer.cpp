// Fuzz target: what the download side reads from the super node, peers and
// the task: peer lists (32, 47) and their entries, handshake answers (15)
// and the task's have-map record. The first byte picks the parser; what a
// parser accepts must lie within the bytes it was given.
#include <cstdint>
#include <vector>

#include "fuzzers/fuzz_check.h"
#include "p2pcore/wire/peer_fetch.h"

using namespace p2p;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t which = data[0] % 3;
  std::vector<uint8_t> body(data + 1, data + size);
  const uint8_t* b = body.data();
  const size_t n = body.size();
  switch (which) {
    case 0: {
      PeerListHead head;
      if (parse_peer_list(b, n, head) != ReplyError::kNone) break;
      FUZZ_CHECK(head.entry_size == 31 || head.entry_size == 33);
      FUZZ_CHECK(head.entries >= b && head.entries + size_t(head.count) * head.entry_size <= b + n);
      const std::vector<peer_entry> entries = peer_list_entries(head);
      FUZZ_CHECK(entries.size() == head.count);
      for (const peer_entry& e : entries) FUZZ_CHECK(head.entry_size == 33 || (e.node_type == 0 && e.percent == 0));
      break;
    }
    case 1: {
      handshake_answer a;
      FUZZ_CHECK(parse_handshake_answer(b, n, a) == (n >= kHandshakeBodySize));
      break;
    }
    case 2: {
      have_map_ranges m;
      if (!parse_finish_record(b, n, m)) break;
      FUZZ_CHECK(m.width == 2 || m.width == 4 || m.width == 8 || m.width == 16);
      FUZZ_CHECK(m.unit != 0);
      FUZZ_CHECK(m.ranges.size() * m.width <= kHaveMapEntryBytes && 12 + m.ranges.size() * m.width <= n);
      break;
    }
  }
  return 0;
}
