// Bodies of the share reports: the batch to the super node (UDP command 28),
// the batch to the upload server (TCP command 10) and the SerialID of an
// acknowledgement. Platform-free; the reader checks the length.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace p2p {

constexpr size_t kSpBatchMax = 60;
constexpr size_t kUpBatchMax = 255;  // the item counter is 8 bits wide
constexpr uint8_t kReportItemValue = 100;

// u16 28, u8 node type, u64 node id, u32 SerialID, u16 n, n x (fid, 100).
std::vector<uint8_t> sp_share_batch(uint8_t node_type, uint64_t node_id, uint32_t serial,
                                    const std::vector<const uint8_t*>& fids);
// u8 0, u32 type (1 add, 2 delete), u32 n, n x (fid, 100).
std::vector<uint8_t> up_share_batch(uint32_t type, const std::vector<const uint8_t*>& fids);
// The u32 at byte 3 of an acknowledgement body; false when the body is shorter.
bool accept_serial(const uint8_t* body, size_t n, uint32_t* serial);

}  // namespace p2p
