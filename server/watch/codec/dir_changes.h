// The directory watcher's pure half: the change records the system fills in
// (FILE_NOTIFY_INFORMATION, read as untrusted bytes), the paths they name and
// what the watcher does about each change. Platform-free.
#pragma once
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

// Record layout: u32 next-entry offset (0 for the last), u32 action, u32 name
// length in bytes, then the name's UTF-16LE units (no terminator).
constexpr size_t kDirChangeHeadBytes = 12;
// The watcher's buffer, as the system fills it: more changes than fit are an
// overflow, reported without records.
constexpr size_t kDirChangeBufferBytes = 1104;

enum DirChangeAction : uint32_t {
  kChangeAdded = 1,
  kChangeRemoved = 2,
  kChangeModified = 3,
  kChangeRenamedOld = 4,
  kChangeRenamedNew = 5,
};

struct DirChange {
  uint32_t action = 0;
  uint32_t nextOffset = 0;
  std::u16string name;  // relative to the watched directory
};

// Walks the records by their next-entry offsets. Stops at a zero offset; a
// record that does not fit what remains, or an offset that does not lead past
// the record's name to a whole record head, ends the walk with false (the
// records read so far are kept). An odd name length drops its last byte.
bool ParseDirChanges(const uint8_t* data, size_t size, std::vector<DirChange>* out);

// The watched directory, "\" and the relative name, as the watcher's buffer of
// 260 units holds it with its terminator; empty when it would not fit.
std::u16string WatchedPath(std::u16string_view dir, std::u16string_view name);

// What the file system says about a changed path when the watcher looks.
struct ChangedEntry {
  bool exists = false;
  bool isDirectory = false;
  uint64_t size = 0;
};

enum class WatchStep {
  kLogOnly,  // only the change's own log line
  kPublish,  // publish the path (a file, or a directory with what is in it)
  kCancel,   // cancel the published file
};

// Added: a publishable file above 0 bytes, or a directory (moved in with its
// files, which bring no changes of their own); removed: a publishable name;
// modified: a publishable file that exists (the publish step skips one that
// is unchanged or empty); renames and anything else: the log line only.
WatchStep StepForChange(uint32_t action, std::u16string_view path, const ChangedEntry& entry);

// Case-blind ordering, as the file system names one file in any case.
struct NoCaseLess {
  bool operator()(const std::u16string& a, const std::u16string& b) const;
};
using WatchedFiles = std::set<std::u16string, NoCaseLess>;

// The publishable files the watcher knew that a rescan no longer finds: they
// went while the changes were lost, and are cancelled.
std::vector<std::u16string> VanishedFiles(const WatchedFiles& before, const WatchedFiles& now);
// Keeps the known files in step with one change.
void TrackChange(uint32_t action, const std::u16string& path, const ChangedEntry& entry, WatchedFiles* files);
