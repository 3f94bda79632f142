// Fuzz target: a control-channel reply body as the user interface reads
// it, through every reader of its client: the status, the record lists, the
// FTP account, the export text, the fixed blocks and texts. A count is
// believed only as far as the reply's bytes reach.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzzers/fuzz_check.h"
#include "ui/client/codec/control_codec.h"

namespace {

template <class Record>
void ReadList(const ReplyReader& reply) {
  std::vector<Record> list;
  uint32_t promised = 0;
  const size_t got = ReadRecordList(reply, list, &promised);
  FUZZ_CHECK(got == list.size() && got <= promised);
  FUZZ_CHECK(reply.Size() >= 6 + got * sizeof(Record) || got == 0);
}

template <class Block>
void ReadBlock(const ReplyReader& reply, size_t offset) {
  Block block;
  const bool whole = reply.Copy(offset, &block, sizeof block);
  FUZZ_CHECK(whole == reply.Has(offset, sizeof block));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> copy(data, data + size);
  const ReplyReader reply(copy.empty() ? nullptr : copy.data(), copy.size());
  reply.Status();

  ReadList<CPublishDir>(reply);
  ReadList<CPublishItem>(reply);
  ReadList<UserRecord>(reply);
  ReadList<UploadRecord>(reply);

  FtpAccountReply account;
  ReadFtpAccount(reply, account);
  FUZZ_CHECK(account.user.size() <= kNameUnits && account.password.size() <= kNameUnits);
  FUZZ_CHECK(account.dirs.size() <= account.promised);
  FUZZ_CHECK(account.dirs.empty() || reply.Has(262, account.dirs.size() * sizeof(FtpShareDirEntry)));
  for (const FtpShareDirEntry& e : account.dirs) FUZZ_CHECK(FixedText(e.first, kPathUnits).size() <= kPathUnits);

  std::u16string text = u"kept";
  if (ReadExportText(reply, text)) {
    FUZZ_CHECK(reply.Has(6, text.size() * 2) && text.size() <= reply.U32(2));
  } else {
    FUZZ_CHECK(text == u"kept");
  }

  FUZZ_CHECK(reply.Text(2, kNameUnits).size() <= kNameUnits);
  FUZZ_CHECK(reply.Text(2, kPortErrorUnits).size() <= kPortErrorUnits);
  reply.U16(130);
  ReadBlock<FtpStatistics>(reply, 2);
  ReadBlock<P2pSetting>(reply, 2);
  ReadBlock<P2pTotals>(reply, 2);
  ReadBlock<P2pStatBlock>(reply, 26);
  ReadBlock<ServerInfoBlock>(reply, 2);
  ReadBlock<SystemInfoBlock>(reply, 2);
  ReadBlock<PerformanceBlock>(reply, 2);
  return 0;
}
