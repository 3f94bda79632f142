// Fuzz target: the change records the system writes into the directory
// watcher's buffer, on an exactly sized copy, and what the watcher makes of
// each. The walk reads each record from where the one before points, as its
// bytes lie there, keeps within the buffer, never goes back, and ends well
// only at a zero offset; each record's path is the watched directory, "\"
// and its name when that fits the 260-unit buffer; only an added or changed
// publishable file (or a directory moved in) is published, only a removed
// publishable name cancelled, and the watched files stay publishable ones.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/text/path_text.h"
#include "fuzzers/fuzz_check.h"
#include "server/watch/codec/dir_changes.h"

namespace {

uint32_t U32At(const std::vector<uint8_t>& b, size_t at) {
  return uint32_t(b[at] | b[at + 1] << 8 | b[at + 2] << 16) | uint32_t(b[at + 3]) << 24;
}

// Whether a whole record head and its name lie at `at`.
bool RecordFits(const std::vector<uint8_t>& b, size_t at) {
  return at <= b.size() && b.size() - at >= kDirChangeHeadBytes && U32At(b, at + 8) <= b.size() - at - kDirChangeHeadBytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const uint64_t looks = in.ConsumeIntegral<uint64_t>();  // what the file system says, 2 bits a change
  const bool slash = in.ConsumeBool();
  const std::vector<uint8_t> buffer = in.ConsumeRemainingBytes<uint8_t>();
  std::vector<DirChange> changes;
  const bool ended = ParseDirChanges(buffer.data(), buffer.size(), &changes);

  size_t at = 0;
  for (size_t i = 0; i < changes.size(); ++i) {
    const DirChange& c = changes[i];
    FUZZ_CHECK(RecordFits(buffer, at));
    FUZZ_CHECK(c.nextOffset == U32At(buffer, at) && c.action == U32At(buffer, at + 4));
    const uint32_t nameBytes = U32At(buffer, at + 8);
    FUZZ_CHECK(c.name.size() == nameBytes / 2);
    for (size_t k = 0; k < c.name.size(); ++k)
      FUZZ_CHECK(c.name[k] == char16_t(buffer[at + 12 + 2 * k] | buffer[at + 13 + 2 * k] << 8));
    const bool last = i + 1 == changes.size();
    // Only the last record may end the walk; the others lead past their own name.
    if (!last) FUZZ_CHECK(c.nextOffset >= kDirChangeHeadBytes + nameBytes);
    if (last) {
      // A good end is a zero offset; a bad one an offset that leads to no whole record.
      if (ended) {
        FUZZ_CHECK(c.nextOffset == 0);
      } else {
        FUZZ_CHECK(c.nextOffset != 0 &&
                   (c.nextOffset < kDirChangeHeadBytes + nameBytes || !RecordFits(buffer, at + c.nextOffset)));
      }
    }
    at += c.nextOffset;
  }
  if (changes.empty()) FUZZ_CHECK(!ended && !RecordFits(buffer, 0));

  const std::u16string dir = slash ? u"C:\\Watched\\" : u"C:\\Watched";
  WatchedFiles files;
  for (size_t i = 0; i < changes.size(); ++i) {
    const DirChange& c = changes[i];
    const std::u16string path = WatchedPath(dir, c.name);
    const std::u16string joined = u"C:\\Watched\\" + c.name;
    FUZZ_CHECK(joined.size() < 260 ? path == joined : path.empty());
    const unsigned bits = unsigned(looks >> (2 * (i % 32))) & 3;
    const ChangedEntry entry{bits != 0, bits == 3, bits == 2 ? 0u : 1000u};
    const bool publishable = IsPublishableFile(path);
    const WatchStep step = StepForChange(c.action, path, entry);
    if (step == WatchStep::kCancel) FUZZ_CHECK(c.action == kChangeRemoved && publishable);
    if (c.action == kChangeRemoved) FUZZ_CHECK(step == (publishable ? WatchStep::kCancel : WatchStep::kLogOnly));
    if (step == WatchStep::kPublish) {
      FUZZ_CHECK((c.action == kChangeAdded || c.action == kChangeModified) && entry.exists);
      // A file is published when it is publishable; one just added only when it holds bytes.
      if (!entry.isDirectory) FUZZ_CHECK(publishable && (c.action != kChangeAdded || entry.size > 0));
    }
    if (c.action == kChangeAdded && entry.exists && !entry.isDirectory && publishable && entry.size > 0)
      FUZZ_CHECK(step == WatchStep::kPublish);
    if (c.action == kChangeModified && entry.exists && !entry.isDirectory && publishable) FUZZ_CHECK(step == WatchStep::kPublish);

    TrackChange(c.action, path, entry, &files);
    for (const std::u16string& known : files) FUZZ_CHECK(IsPublishableFile(known));
    if (c.action == kChangeRemoved || c.action == kChangeRenamedOld) FUZZ_CHECK(files.count(path) == 0);
    if ((c.action == kChangeAdded || c.action == kChangeModified || c.action == kChangeRenamedNew) && publishable &&
        entry.exists && !entry.isDirectory)
      FUZZ_CHECK(files.count(path) == 1);
  }
  return 0;
}
