// Fuzz target: the change records the system writes into the directory
// watcher's buffer, on an exactly sized copy: the walk keeps within the
// bytes, and each record's path and step are worked out as the watcher does.
#include <cstdint>
#include <vector>

#include "fuzzers/fuzz_check.h"
#include "server/watch/codec/dir_changes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> buffer(data, data + size);
  std::vector<DirChange> changes;
  ParseDirChanges(buffer.data(), buffer.size(), &changes);
  size_t used = 0;
  WatchedFiles files;
  for (const DirChange& c : changes) {
    used += kDirChangeHeadBytes + c.name.size() * 2;
    const std::u16string path = WatchedPath(u"C:\\Watched", c.name);
    FUZZ_CHECK(path.size() < 260);
    const ChangedEntry entry{(c.action & 1) != 0, (c.action & 2) != 0, c.action};
    StepForChange(c.action, path, entry);
    TrackChange(c.action, path, entry, &files);
  }
  FUZZ_CHECK(used <= size);
  return 0;
}
