// Fuzz target: a control-channel reply body as the user interface reads
// it, through every reader of its client: the status, the record lists, the
// FTP account, the export text, the fixed blocks and texts. A count is
// believed only as far as the reply's bytes reach, and what is read is the
// reply's bytes at their place (zeros for a block the reply lacks).
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzzers/fuzz_check.h"
#include "ui/client/codec/control_codec.h"

namespace {

uint32_t CountAt2(const std::vector<uint8_t>& body) {
  return body.size() < 6 ? 0 : uint32_t(body[2] | body[3] << 8 | body[4] << 16) | uint32_t(body[5]) << 24;
}

// A list reply yields the records its count promises, as far as its bytes
// hold them whole, each the bytes at its place.
template <class Record>
void ReadList(const ReplyReader& reply, const std::vector<uint8_t>& body) {
  std::vector<Record> list;
  uint32_t promised = 0;
  const size_t got = ReadRecordList(reply, list, &promised);
  const size_t whole = body.size() < 6 ? 0 : (body.size() - 6) / sizeof(Record);
  FUZZ_CHECK(promised == CountAt2(body) && got == list.size() && got == std::min<size_t>(promised, whole));
  for (size_t i = 0; i < got; ++i) FUZZ_CHECK(std::memcmp(&list[i], body.data() + 6 + i * sizeof(Record), sizeof(Record)) == 0);
}

// A fixed block is the reply's bytes at its offset, or zeros when the reply
// does not hold it whole.
template <class Block>
void ReadBlock(const ReplyReader& reply, const std::vector<uint8_t>& body, size_t offset) {
  Block block;
  std::memset(&block, 0xA5, sizeof block);
  const bool whole = reply.Copy(offset, &block, sizeof block);
  const bool there = body.size() >= offset && body.size() - offset >= sizeof block;
  FUZZ_CHECK(whole == there);
  static const uint8_t zeros[512] = {};
  static_assert(sizeof(Block) <= sizeof zeros);
  FUZZ_CHECK(std::memcmp(&block, there ? body.data() + offset : zeros, sizeof block) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> copy(data, data + size);
  const ReplyReader reply(copy.empty() ? nullptr : copy.data(), copy.size());
  reply.Status();

  ReadList<CPublishDir>(reply, copy);
  ReadList<CPublishItem>(reply, copy);
  ReadList<UserRecord>(reply, copy);
  ReadList<UploadRecord>(reply, copy);

  FtpAccountReply account;
  ReadFtpAccount(reply, account);
  FUZZ_CHECK(account.user.size() <= kNameUnits && account.password.size() <= kNameUnits);
  FUZZ_CHECK(account.dirs.size() <= account.promised);
  FUZZ_CHECK(account.dirs.empty() || reply.Has(262, account.dirs.size() * sizeof(FtpShareDirEntry)));
  for (const FtpShareDirEntry& e : account.dirs) FUZZ_CHECK(FixedText(e.first, kPathUnits).size() <= kPathUnits);

  std::u16string text = u"kept";
  if (ReadExportText(reply, text)) {
    // The count's units, as far as the reply holds them.
    FUZZ_CHECK(text.size() == std::min<size_t>(CountAt2(copy), copy.size() < 6 ? 0 : (copy.size() - 6) / 2));
    for (size_t i = 0; i < text.size(); ++i) FUZZ_CHECK(text[i] == char16_t(copy[6 + 2 * i] | copy[7 + 2 * i] << 8));
  } else {
    // Only a count of 0 keeps the caller's text.
    FUZZ_CHECK(text == u"kept" && CountAt2(copy) == 0);
  }

  FUZZ_CHECK(reply.Text(2, kNameUnits).size() <= kNameUnits);
  FUZZ_CHECK(reply.Text(2, kPortErrorUnits).size() <= kPortErrorUnits);
  reply.U16(130);
  ReadBlock<FtpStatistics>(reply, copy, 2);
  ReadBlock<P2pSetting>(reply, copy, 2);
  ReadBlock<P2pTotals>(reply, copy, 2);
  ReadBlock<P2pStatBlock>(reply, copy, 26);
  ReadBlock<ServerInfoBlock>(reply, copy, 2);
  ReadBlock<SystemInfoBlock>(reply, copy, 2);
  ReadBlock<PerformanceBlock>(reply, copy, 2);
  return 0;
}
