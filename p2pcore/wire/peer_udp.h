// Bodies of the UDP commands peers and the super node send to the upload side,
// and of the answers it sends back: call-me (9, 50), getfiledata (16) with its
// runs and data packets, swap version (48, 49), have-maps (52, 53), verify
// range (56) and its answer (57), the handshake answer (15) and the choke
// notice (36). Every parser takes a pointer and a length and checks each field
// against what remains. Bodies start with their u16 command code. Platform-free.
#pragma once
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace p2p {

// Upload and download data move in blocks of 1024 bytes.
inline constexpr uint32_t kBlockBytes = 1024;

enum PeerUdpCommand : uint16_t {
  kPeerCallMe = 9,
  kPeerHandshakeAnswer = 15,
  kPeerGetFileData = 16,
  kPeerChokeNotice = 36,
  kPeerSwapVersion = 48,
  kPeerSwapVersionAnswer = 49,
  kPeerCallMe2 = 50,
  kPeerHaveMap = 52,
  kPeerHaveMapAnswer = 53,
  kPeerVerifyRange = 56,
  kPeerVerifyAnswer = 57,
};

enum class PeerError {
  kNone,
  kShort,   // shorter than its fixed part
  kLength,  // length that disagrees with the counts it carries
  kCount,   // a count out of range
  kRange,   // a range outside what may be served
  kValue,   // a field value no sender uses
};
const char* peer_error_text(PeerError e);

// --- call-me (9 and 50), relayed by the super node from a downloading peer's
// command 8: the peer's identity and addresses, the file, and the entry that
// named us. 50 also carries the peer's version information.
inline constexpr size_t kCallMeSize = 61;
inline constexpr size_t kCallMe2Size = kCallMeSize + 40;
struct CallMe {
  uint64_t peer_id = 0;
  uint32_t peer_ip = 0;  // first octet in the lowest byte
  uint16_t peer_port = 0;
  uint8_t nat_type = 0;
  uint32_t peer_public_ip = 0;
  uint8_t file_hash[16] = {};
  uint64_t file_size = 0;
  uint64_t target_id = 0;  // our user id as the peer knows it
  uint32_t target_ip = 0;
  uint16_t target_port = 0;
  bool has_version = false;
  uint8_t version[40] = {};  // u32 IPv4, u32 value, 32-byte text
};
PeerError parse_call_me(const uint8_t* body, size_t n, CallMe& out);
std::vector<uint8_t> call_me_body(uint16_t command, const CallMe& c);

// --- the handshake answer (15), sent to a peer after its call-me: 36 bytes,
// the result in the last byte.
inline constexpr size_t kHandshakeAnswerSize = 36;
enum HandshakeResult : uint8_t {
  kHandshakeAccepted = 0,
  kHandshakeNoFile = 1,    // "文件不存在"
  kHandshakeFull = 2,      // "通道满": no room for another upload user, or choked
  kHandshakeOffline = 3,   // "下线": uploads paused
};
std::vector<uint8_t> handshake_answer_body(const uint8_t file_hash[16], uint64_t own_id, uint64_t file_size,
                                           uint8_t own_nat_type, uint8_t result);

// --- getfiledata (16): the file, the requester, NAT type and request type,
// then up to 16 block indexes.
inline constexpr size_t kGetFileDataHead = 29;
inline constexpr uint8_t kMaxBlocksPerRequest = 16;
struct GetFileData {
  uint8_t file_hash[16] = {};
  uint64_t user_id = 0;
  uint32_t nat_word = 0;  // bytes 26-29: NAT type in the low byte, request type next
  uint8_t nat_type = 0;
  uint8_t request_type = 0;
  uint8_t declared = 0;   // the block count the request names
  uint8_t count = 0;      // indexes present and valid, in request order
  uint32_t blocks[kMaxBlocksPerRequest] = {};
};
// kCount when more than 16 blocks are named (not served). The index list ends
// at the first index the datagram does not hold whole or that is 0xFFFFFFFF,
// so a cut request never serves a block nobody asked for.
PeerError parse_get_file_data(const uint8_t* body, size_t n, GetFileData& out);
std::vector<uint8_t> get_file_data_body(const uint8_t file_hash[16], uint64_t user_id, uint8_t nat_type,
                                        uint8_t request_type, const uint32_t* blocks, size_t count);

// Runs of consecutive ascending block indexes, in request order.
struct BlockRun {
  uint32_t first = 0;
  uint32_t count = 0;
};
std::vector<BlockRun> split_runs(const uint32_t* blocks, size_t n);

// Data bytes of packet k of a run whose read delivered `usable` bytes: 1024,
// less for the last, 0 past the end.
uint32_t run_packet_length(uint32_t usable, uint32_t k);

// --- data packet (protocol 2) of a served block: 36-byte head (protocol,
// CRC, file hash, sender id, 1, block index, length), the data, the u32 packet
// sequence of the upload user, then 1 to 5 zero bytes.
inline constexpr size_t kBlockPacketHead = 36;
inline constexpr size_t kBlockPacketMax = kBlockPacketHead + kBlockBytes + 4 + 5;
// Builds the packet into out; its length, or 0 when it does not fit or an
// argument is out of range (data over 1024 bytes, zeros not 1..5).
size_t build_block_packet(uint8_t* out, size_t capacity, const uint8_t file_hash[16], uint64_t sender_id,
                          uint32_t block, const uint8_t* data, uint32_t length, uint32_t sequence, uint32_t zeros);
struct BlockPacket {
  uint8_t file_hash[16] = {};
  uint64_t sender_id = 0;
  uint32_t block = 0;
  uint16_t length = 0;
  const uint8_t* data = nullptr;
  uint32_t sequence = 0;
};
// A received data packet (already unwrapped); checks its CRC and lengths.
PeerError parse_block_packet(const uint8_t* p, size_t n, BlockPacket& out);

// --- swap version (48, answered with 49): the file, the sender's id, the
// protocol version as four octets, the build number and the program name.
inline constexpr size_t kSwapVersionSize = 106;
struct SwapVersion {
  uint8_t file_hash[16] = {};
  uint64_t user_id = 0;
  uint32_t version = 0;  // "1.0.3.36" as four octets
  uint32_t build = 0;
  char program[32] = {};  // at most 31 characters
};
PeerError parse_swap_version(const uint8_t* body, size_t n, SwapVersion& out);
std::vector<uint8_t> swap_version_body(uint16_t command, const SwapVersion& v);
// The 40-byte version information of an upload user, from a swap version.
void swap_version_info(const SwapVersion& v, uint8_t out[40]);

// --- have-map (52, answered with 53; the TCP finished-range notice has the
// same layout after its first two bytes): the file, a flag, the unit in
// bytes, the entry width (start and end, half the width each) and count.
inline constexpr size_t kHaveMapHead = 34;
// Entry widths a have-map may use: 2, 4, 8 or 16 bytes (start and end, half each).
bool have_map_width_ok(uint16_t width);
inline constexpr size_t kHaveMapMaxEntries = 1300;  // width x count
struct HaveMap {
  uint8_t file_hash[16] = {};
  uint8_t flag = 0;
  uint32_t unit = 0;
  uint16_t width = 0;
  uint16_t count = 0;
  const uint8_t* entries = nullptr;
};
// UDP: width 2, 4, 8 or 16, width x count at most 1300, length exactly 34 + width x count.
PeerError parse_have_map(const uint8_t* body, size_t n, HaveMap& out);
// kShort below 34 bytes, kLength when the length is not 34 + count x width.
PeerError parse_finish_range(const uint8_t* body, size_t n, HaveMap& out);
// Bytes the map covers: sum of (end - start) x unit, saturating; entries of
// an unusable width count nothing.
uint64_t have_map_bytes(const HaveMap& m);
// Our map of a whole file: one entry from 0 to the file's units.
std::vector<uint8_t> full_have_map_body(uint16_t command, const uint8_t file_hash[16], uint64_t file_size);
std::vector<uint8_t> have_map_body(uint16_t command, const uint8_t file_hash[16], uint8_t flag, uint32_t unit,
                                   uint16_t width, const std::vector<std::pair<uint64_t, uint64_t>>& ranges);

// --- verify range (56) and its answer (57, also the TCP verify answer 22).
inline constexpr size_t kVerifyRequestSize = 50;
inline constexpr size_t kVerifyAnswerHead = 92;
inline constexpr uint32_t kVerifyMaxChunks = 256;
enum : uint32_t { kVerifyMd5 = 1, kVerifySha1 = 2, kVerifyCrc = 4 };
struct VerifyRequest {
  uint8_t echo[48] = {};  // request bytes 2-49, echoed in the answer
  uint8_t file_hash[16] = {};
  uint32_t flags = 0;
  uint32_t crc_unit = 0;
  uint64_t start = 0;
  uint64_t length = 0;
};
// kShort below 50 bytes.
PeerError parse_verify_request(const uint8_t* body, size_t n, VerifyRequest& out);
// kRange for a length of 0 or above max_length, or a range that wraps; checked
// before anything is allocated for the read.
PeerError check_verify_range(const VerifyRequest& r, uint64_t max_length);
// A verify range with a length above 32 bits is never answered.
inline constexpr uint64_t kVerifyMaxLength = 0xFFFFFFFFu;
std::vector<uint8_t> verify_request_body(const uint8_t file_hash[16], uint32_t flags, uint32_t crc_unit, uint64_t start,
                                         uint64_t length);
// Chunk CRCs the answer carries: (length - 1) / unit + 1, 0 for unit 0 or above 256.
uint32_t verify_chunk_count(uint64_t length, uint32_t crc_unit);
// The answer: 92 + 4 x chunks bytes over the range's data.
std::vector<uint8_t> verify_answer_body(const VerifyRequest& r, const uint8_t* data, size_t n);
// CRC-32 of verify answers: the reflected table started at 0, no final step.
uint32_t verify_crc(const uint8_t* p, size_t n);

// --- choke notice (36) to a peer refused for wasting the cache: come back in
// 300 seconds.
inline constexpr size_t kChokeNoticeSize = 22;
inline constexpr uint32_t kChokeSeconds = 300;
std::vector<uint8_t> choke_notice_body(const uint8_t file_hash[16]);

}  // namespace p2p
