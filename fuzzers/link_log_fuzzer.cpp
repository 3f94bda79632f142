// Fuzz target: the link log "PublishList.Log" as the automatic-publish run
// reads it back: its entries, the whole-link checks and the last-published
// texts. An entry written from any time, directory and link reads back as
// written whenever the reader takes it; a file's link pair written after any
// log text is read back whole, and once cut short leaves the output as the
// log gives it without the pair.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>

#include "foundation/text/hex_text.h"
#include "fuzzers/fuzz_check.h"
#include "server/links/codec/link_log.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const int32_t now = in.ConsumeIntegralInRange<int32_t>(7200, INT32_MAX);  // the clock, not the file
  const int32_t time = in.ConsumeIntegral<int32_t>();
  const std::string directory = in.ConsumeRandomLengthString(300);
  const std::string link = in.ConsumeRandomLengthString(300);
  const uint64_t fileSize = in.ConsumeIntegral<uint64_t>();
  uint8_t fid[16];
  for (uint8_t& b : fid) b = in.ConsumeIntegral<uint8_t>();
  const std::string name = in.ConsumeRandomLengthString(100);
  const size_t cutBy = in.ConsumeIntegral<size_t>();
  const std::string log = in.ConsumeRemainingBytesAsString();

  LinkLogEntry entry;
  if (ParseLinkLogLine(log, &entry)) FUZZ_CHECK(!entry.link.empty());
  const LastPublishTexts alone = BuildLastPublishTexts(log, now);
  FUZZ_CHECK(alone.vxhd.size() <= 2 * log.size() + 8 && alone.ftp.size() <= 2 * log.size() + 8);
  std::string got;
  if (ReadVxhdLinkName(link, &got)) FUZZ_CHECK(!got.empty() && link.rfind("vxhd://", 0) == 0 && link.size() >= got.size() + 42);
  if (ReadFtpLinkName(link, &got)) FUZZ_CHECK(!got.empty() && got.find('/') == std::string::npos);

  // One entry as the publish task writes it: "[" + 23-character time + "] " + text.
  const std::string line = "[2026-01-02 03:04:05.678] " + FormatLinkLogText(time, directory, link);
  if (ParseLinkLogLine(line, &entry) && directory.find("://") == std::string::npos &&
      directory.find_first_of("\r\n") == std::string::npos && link.find_first_of("\r\n") == std::string::npos &&
      link.substr(0, link.find("://")).find(',') == std::string::npos) {
    FUZZ_CHECK(entry.time == time && entry.directory == directory && entry.link == link);
  }

  // A file's pair as the publish task writes it, after whatever came before.
  if (fileSize == 0 || name.empty() || name.find_first_of("\r\n/") != std::string::npos) return 0;
  const std::string vxhd = "vxhd://" + std::to_string(fileSize) + "|" + HexText(fid, 16) + "|" + name;
  const std::string ftp = "ftp://h:2121/D/" + name;
  FUZZ_CHECK(ReadVxhdLinkName(vxhd, &got) && got == name);
  FUZZ_CHECK(ReadFtpLinkName(ftp, &got) && got == name);
  const std::string prefix = "\r\n[2026-01-02 03:04:05:678] ";
  const std::string withPair =
      log + prefix + FormatLinkLogText(now, "D:\\V", vxhd) + prefix + FormatLinkLogText(now, "D:\\V", ftp);
  const LastPublishTexts texts = BuildLastPublishTexts(withPair, now);
  FUZZ_CHECK(texts.vxhd.find("\r\n" + vxhd + "\r\n") != std::string::npos);
  FUZZ_CHECK(texts.ftp.find("\r\n" + ftp + "\r\n") != std::string::npos);
  // Cut anywhere in the name of its FTP line, the pair is not taken: the
  // files come out as the log alone gives them. (The log may hold a pair of
  // its own whose link begins with the cut one, so the cut text itself may
  // well appear in them.)
  const std::string cut = withPair.substr(0, withPair.size() - 1 - cutBy % name.size());
  const LastPublishTexts fromCut = BuildLastPublishTexts(cut, now);
  FUZZ_CHECK(fromCut.vxhd == alone.vxhd && fromCut.ftp == alone.ftp);
  return 0;
}
