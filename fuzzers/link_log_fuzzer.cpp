// Fuzz target: the link log "PublishList.Log" as the automatic-publish run
// reads it back, line by line and whole into the last-published texts. A
// line written from any time, directory and link reads back as written
// whenever the reader takes it.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>

#include "fuzzers/fuzz_check.h"
#include "server/links/codec/link_log.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const int64_t now = in.ConsumeIntegralInRange<int64_t>(0, int64_t(1) << 40);  // the clock, not the file
  const int32_t time = in.ConsumeIntegral<int32_t>();
  const std::string directory = in.ConsumeRandomLengthString(300);
  const std::string link = in.ConsumeRandomLengthString(300);
  const std::string log = in.ConsumeRemainingBytesAsString();

  LinkLogEntry entry;
  if (ParseLinkLogLine(log, &entry)) FUZZ_CHECK(!entry.link.empty());
  const LastPublishTexts texts = BuildLastPublishTexts(log, now);
  FUZZ_CHECK(texts.vxhd.size() <= 2 * log.size() + 8 && texts.ftp.size() <= 2 * log.size() + 8);

  // One entry as the publish task writes it: "[" + 23-character time + "] " + text.
  const std::string line = "[2026-01-02 03:04:05.678] " + FormatLinkLogText(time, directory, link);
  if (ParseLinkLogLine(line, &entry) && directory.find("://") == std::string::npos &&
      directory.find_first_of("\r\n") == std::string::npos && link.find_first_of("\r\n") == std::string::npos &&
      link.substr(0, link.find("://")).find(',') == std::string::npos) {
    FUZZ_CHECK(entry.time == time && entry.directory == directory && entry.link == link);
  }
  return 0;
}
