// Fuzz target: the replies the peer and upload lists (commands 97, 98) and
// the server information and status pages (69, 81, 82, 83, 117) show. Every
// cell is made from any bytes, a list reply never yields more records than
// it holds, and the lists' comparisons stay antisymmetric.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzzers/fuzz_check.h"
#include "ui/client/codec/control_codec.h"
#include "ui/config/codec/server_figures.h"
#include "ui/lists/codec/peer_rows.h"

namespace {

template <class Record, class Cell, class Compare>
void CheckList(const ReplyReader& reply, int columns, Cell cell, Compare compare) {
  std::vector<Record> records;
  const size_t n = ReadRecordList(reply, records);
  FUZZ_CHECK(n == records.size() && (n == 0 || 6 + n * sizeof(Record) <= reply.Size()));
  const NarrowCodePage latin1{};
  for (const Record& record : records) {
    for (int column = -1; column <= columns; ++column) {
      const std::u16string text = cell(record, column, latin1);
      FUZZ_CHECK(text.size() <= 300);
      FUZZ_CHECK((column >= 0 && column < columns) || text.empty());
    }
  }
  const size_t pairs = std::min<size_t>(records.size(), 10);
  for (int column = 0; column < columns; ++column) {
    for (size_t i = 0; i < pairs; ++i) {
      FUZZ_CHECK(compare(records[i], records[i], column) == 0);
      for (size_t j = i + 1; j < pairs; ++j) {
        FUZZ_CHECK(compare(records[i], records[j], column) == -compare(records[j], records[i], column));
      }
    }
  }
}

template <class Block>
Block BlockAt(const ReplyReader& reply, size_t offset) {
  Block block{};
  reply.Copy(offset, &block, sizeof block);
  return block;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> body(data, data + size);
  const ReplyReader reply(body.data(), body.size());

  CheckList<UserRecord>(reply, kUserColumns, UserCellText, CompareUserRecords);
  CheckList<UploadRecord>(reply, kUploadColumns, UploadCellText, CompareUploadRecords);

  std::vector<UserRecord> users;
  ReadRecordList(reply, users);
  for (const UserRecord& user : users) {
    const std::string path = UserRecordPath(user);
    FUZZ_CHECK(path.size() <= 260 && path.find('\0') == std::string::npos);
    FUZZ_CHECK(FolderOfAnsiPath(path, NarrowCodePage{}).size() <= path.size());
  }

  (void)ServerInfoTexts(BlockAt<ServerInfoBlock>(reply, 2));
  (void)PerformanceTexts(BlockAt<PerformanceBlock>(reply, 2));
  const SystemInfoBlock system = BlockAt<SystemInfoBlock>(reply, 2);
  FUZZ_CHECK(SystemOsText(system).size() <= 64 && SystemCpuText(system).size() <= 64);
  (void)FtpStatusTexts(BlockAt<FtpStatistics>(reply, 2));
  (void)P2pStatusTexts(BlockAt<P2pTotals>(reply, 2), BlockAt<P2pStatBlock>(reply, 2 + sizeof(P2pTotals)));
  return 0;
}
