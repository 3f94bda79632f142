// Bodies of the TCP peer protocol inside the enciphered stream: Req_Active (8),
// Check_Have (16) and its answer (17), Req_data (18) with its ranges cut into
// pieces, block data (20) cut into frames, finish_range (21), Req_VerifyRange
// (23), the verify answer (22) and the back-off (25). Parsers take a pointer and
// a length and read nothing past it. Platform-free.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "p2pcore/wire/peer_udp.h"

namespace p2p {

enum PeerTcpCommand : uint16_t {
  kTcpReqActive = 8,
  kTcpRspActive = 9,
  kTcpCheckHave = 16,
  kTcpCheckHaveAnswer = 17,
  kTcpReqData = 18,
  kTcpBlockData = 20,
  kTcpFinishRange = 21,
  kTcpVerifyAnswer = 22,
  kTcpReqVerifyRange = 23,
  kTcpBackOff = 25,
  kTcpIgnored26 = 26,
};

// --- Check_Have (16): 256 bytes.
inline constexpr size_t kCheckHaveSize = 256;
inline constexpr size_t kCheckHaveHeaderSize = 112;
struct CheckHave {
  uint8_t head[52] = {};  // begins with the peer's u64 user id
  uint64_t user_id = 0;
  uint16_t value52 = 0;
  uint8_t request_header[kCheckHaveHeaderSize] = {};  // bytes 54-165
  uint16_t value166 = 0;
  uint8_t fid[16] = {};
  uint64_t value184 = 0;
};
// kLength for any size but 256.
PeerError parse_check_have(const uint8_t* body, size_t n, CheckHave& out);
std::vector<uint8_t> check_have_body(uint64_t user_id, const uint8_t fid[16], uint64_t value184);

// --- its answer (17): 203 bytes: u16 result (the handshake results), the fid,
// the file size, our user id and NAT type, zeros.
inline constexpr size_t kCheckHaveAnswerSize = 203;
std::vector<uint8_t> check_have_answer_body(uint16_t result, const uint8_t fid[16], uint64_t file_size,
                                            uint64_t own_id, uint8_t own_nat_type);
struct CheckHaveAnswer {
  uint16_t result = 0;
  uint8_t fid[16] = {};
  uint64_t file_size = 0;
  uint64_t own_id = 0;
};
PeerError parse_check_have_answer(const uint8_t* body, size_t n, CheckHaveAnswer& out);

// --- Req_data (18): u32 request id, 4 bytes, u32 range count, then the ranges
// (u32 first block, u32 last block, last inclusive).
inline constexpr size_t kReqDataHead = 12;
inline constexpr uint32_t kReqDataMaxRanges = 64;
struct DataRange {
  uint32_t first = 0;
  uint32_t last = 0;
};
struct ReqData {
  uint32_t request_id = 0;
  uint32_t count = 0;
  std::vector<DataRange> ranges;
};
// kShort below 12 bytes; kCount for 65 ranges or more; kLength when the body
// does not hold all the ranges it counts (nothing past the body is read).
PeerError parse_req_data(const uint8_t* body, size_t n, ReqData& out);
std::vector<uint8_t> req_data_body(uint32_t request_id, const std::vector<DataRange>& ranges);

// One read of a Req_data: at most piece_blocks blocks of one range.
struct DataPiece {
  uint32_t request_id = 0;
  uint64_t first_block = 0;
  uint64_t last_block = 0;
  // Bytes it reads: blocks x 1024, cut at the end of the file; 0 for a piece
  // that starts past the end (refused).
  uint32_t length = 0;
  uint32_t range_first = 0, range_last = 0;  // of the range it was cut from
  bool last_of_range = false;
};
// Cuts every range into pieces of piece_blocks blocks, the last piece ending
// at the range's last block; a range that reaches past the end of a file of
// file_size bytes is served up to its end. kRange when a range has first >
// last; kCount when the pieces would pass max_pieces. Nothing is produced on
// an error.
PeerError cut_pieces(const ReqData& r, uint32_t piece_blocks, uint64_t file_size, size_t max_pieces,
                     std::vector<DataPiece>& out);
// Blocks of 1024 bytes a file of this size has.
inline uint64_t file_blocks(uint64_t size) { return size / kBlockBytes + (size % kBlockBytes ? 1 : 0); }

// --- block data (20): the answer of a piece goes out in frames of at most 4096
// data bytes, each headed by a u32 block index (the piece's first block + 4 per
// frame) and a u16 length.
inline constexpr uint32_t kBlockFrameData = 4096;
inline constexpr size_t kBlockFrameHead = 6;
struct BlockFrame {
  uint32_t block = 0;
  uint32_t offset = 0;  // into the answer's data
  uint16_t length = 0;
};
std::vector<BlockFrame> block_frames(uint64_t first_block, uint32_t length);
void block_frame_head(const BlockFrame& f, uint8_t out[kBlockFrameHead]);

// --- Req_VerifyRange (23): 50 bytes laid out as the UDP verify request; the
// answer (22) is the verify answer of the UDP side.
inline constexpr size_t kReqVerifySize = 50;

// --- back-off (25): u32 value, u32 milliseconds to stay away.
inline constexpr size_t kBackOffSize = 8;
inline constexpr uint32_t kBackOffMs = 60000;
std::vector<uint8_t> back_off_body(uint32_t value, uint32_t ms);

}  // namespace p2p
