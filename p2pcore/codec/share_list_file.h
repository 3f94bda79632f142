// Share-list files ("vxpup.dat", "vxsecushr.dat"): magic, seed, check value
// and scrambled 297- or 293-byte records. This reads and checks a file's
// bytes and collects its records; it never reads past what it was given.
// Platform-free.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

namespace p2p {

#pragma pack(push, 1)
struct share_list_record {
  uint64_t size;
  uint8_t fid[16];
  uint32_t unused;
  uint64_t last_write;  // FILETIME when the record was made
  uint8_t paused;
  uint8_t path_length;
  char path[255];  // ANSI, zero-terminated
  uint32_t last_access;  // seconds since 1970; absent in the old pattern
};
#pragma pack(pop)
static_assert(sizeof(share_list_record) == 297, "share-list record is 297 bytes");
static_assert(offsetof(share_list_record, fid) == 8 && offsetof(share_list_record, last_write) == 28 &&
                  offsetof(share_list_record, paused) == 36 && offsetof(share_list_record, path) == 38 &&
                  offsetof(share_list_record, last_access) == 293,
              "share-list record layout");

constexpr size_t kShareListHeader = 12;
constexpr size_t kNewRecordSize = 297;
constexpr size_t kOldRecordSize = 293;
constexpr uint64_t kShareListMaxFile = 0x19000000;
extern const uint8_t kShareListNewMagic[4];  // 'V' 'X' 0 1
extern const uint8_t kShareListOldMagic[4];  // 'A' 'C' 0 1

// The CRC-32 table as 1024 bytes in little-endian order; the index wraps at 1024.
uint8_t crc32_table_byte(size_t index);

// Byte i: rotate left by 7 - (i mod 7), then XOR with CRC-table byte (seed + i + 0x2C5) mod 1024.
void share_list_descramble(uint8_t* payload, size_t n, uint32_t seed);

enum class share_list_status {
  ok,
  too_big,          // above kShareListMaxFile
  no_data,          // 12 bytes or less
  unknown_pattern,  // neither magic
  bad_size,         // no whole record after the header
  bad_check,        // check value does not match the descrambled payload
};

struct share_list_result {
  share_list_status status = share_list_status::ok;
  bool new_pattern = false;
  uint64_t records = 0;   // whole records the file holds
  size_t appended = 0;    // records added to the collection
};

// Collects the records of one or more share-list files, dropping every record
// whose path or fid is already in the collection (linear time).
class share_list_collector {
 public:
  share_list_result add_file(const uint8_t* bytes, size_t n);
  std::vector<share_list_record>& records() { return records_; }
  // Keeps the `limit` largest files; equal sizes keep their order.
  void keep_largest(size_t limit);

 private:
  std::vector<share_list_record> records_;
  std::unordered_set<std::string> fids_;
  std::unordered_set<std::string> paths_;
};

}  // namespace p2p
