// Change records as untrusted bytes, watched paths, and the watcher's step
// for each change, as tables.
#include "server/watch/codec/dir_changes.h"

#include <gtest/gtest.h>

#include <random>

namespace {

// One record as the system lays it out; next 0 ends the buffer.
std::vector<uint8_t> Record(uint32_t next, uint32_t action, std::u16string_view name, size_t pad = 0) {
  std::vector<uint8_t> b;
  auto u32 = [&](uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
  };
  u32(next);
  u32(action);
  u32(uint32_t(name.size() * 2));
  for (char16_t c : name) b.push_back(uint8_t(c)), b.push_back(uint8_t(c >> 8));
  b.resize(b.size() + pad, 0);
  return b;
}

std::vector<uint8_t> Join(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

TEST(ParseDirChanges, WalksRecordsAndRefusesBadOnes) {
  // "a.avi" is 10 bytes: 22 in all, padded to 24 as the system aligns records.
  const std::vector<uint8_t> two = Join({Record(24, 1, u"a.avi", 2), Record(0, 3, u"a.avi")});
  std::vector<uint8_t> oddLength = Record(0, 2, u"ab");
  oddLength[8] = 3;  // three bytes: the unit cut in half is dropped
  std::vector<uint8_t> lengthPastEnd = Record(0, 1, u"ab");
  lengthPastEnd[8] = 200;
  struct Row {
    const char* name;
    std::vector<uint8_t> bytes;
    bool whole;
    std::vector<std::pair<uint32_t, std::u16string>> records;
  } rows[] = {
      {"one record", Record(0, 1, u"sub\\电影.mkv"), true, {{1, u"sub\\电影.mkv"}}},
      {"two records by offset", two, true, {{1, u"a.avi"}, {3, u"a.avi"}}},
      {"empty name", Record(0, 5, u""), true, {{5, u""}}},
      {"odd name length", oddLength, true, {{2, u"a"}}},
      {"no bytes: nothing", {}, false, {}},
      {"half a head", std::vector<uint8_t>(11, 0), false, {}},
      {"name length past the end", lengthPastEnd, false, {}},
      {"offset past the end", Record(64, 1, u"a.avi"), false, {{1, u"a.avi"}}},
      {"offset inside the head", Join({Record(4, 1, u"x.avi"), Record(0, 2, u"y.avi")}), false, {{1, u"x.avi"}}},
      {"offset into the name", Join({Record(16, 1, u"x.avi", 8), Record(0, 2, u"y.avi")}), false, {{1, u"x.avi"}}},
      {"offset to a cut record", Join({Record(24, 1, u"a.avi", 2), std::vector<uint8_t>(8, 0)}), false,
       {{1, u"a.avi"}}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    std::vector<DirChange> got;
    EXPECT_EQ(ParseDirChanges(r.bytes.data(), r.bytes.size(), &got), r.whole);
    ASSERT_EQ(got.size(), r.records.size());
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].action, r.records[i].first) << i;
      EXPECT_EQ(got[i].name, r.records[i].second) << i;
    }
  }
  std::vector<DirChange> none;
  EXPECT_FALSE(ParseDirChanges(nullptr, 10, &none));
  EXPECT_TRUE(none.empty());
}

TEST(ParseDirChanges, AnyBytesStayInBounds) {
  std::mt19937 random(20240611);
  for (int round = 0; round < 20000; ++round) {
    std::vector<uint8_t> bytes(random() % (kDirChangeBufferBytes + 1));
    for (uint8_t& b : bytes) b = uint8_t(random());
    // Small offsets and lengths now and then, so walks go several records deep.
    for (size_t at = 0; at + 12 <= bytes.size(); at += 4 + random() % 40) {
      if (random() % 2) bytes[at] = uint8_t(12 + random() % 60), bytes[at + 1] = bytes[at + 2] = bytes[at + 3] = 0;
      if (random() % 2) bytes[at + 8] = uint8_t(random() % 50), bytes[at + 9] = bytes[at + 10] = bytes[at + 11] = 0;
    }
    std::vector<DirChange> got;
    ParseDirChanges(bytes.data(), bytes.size(), &got);
    size_t units = 0;
    for (const DirChange& c : got) units += c.name.size();
    ASSERT_LE(got.size() * kDirChangeHeadBytes + units * 2, bytes.size());
  }
}

TEST(WatchedPath, JoinsAndRefusesWhatDoesNotFit) {
  struct Row {
    const char* name;
    std::u16string dir, relative, expected;
  } rows[] = {
      {"plain", u"C:\\Auto", u"a.avi", u"C:\\Auto\\a.avi"},
      {"dir with its backslash", u"C:\\", u"a.avi", u"C:\\a.avi"},
      {"sub-directory", u"D:\\Watch", u"sub\\b.mkv", u"D:\\Watch\\sub\\b.mkv"},
      {"259 units fit", u"C:\\d", std::u16string(259 - 5, u'n'), u"C:\\d\\" + std::u16string(254, u'n')},
      {"260 units do not", u"C:\\d", std::u16string(255, u'n'), u""},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(WatchedPath(r.dir, r.relative), r.expected);
  }
}

TEST(StepForChange, ByActionNameAndWhatIsOnDisk) {
  const ChangedEntry none{}, file{true, false, 5000}, empty{true, false, 0}, dir{true, true, 0};
  struct Row {
    const char* name;
    uint32_t action;
    std::u16string path;
    ChangedEntry entry;
    WatchStep step;
  } rows[] = {
      {"added media file", kChangeAdded, u"C:\\w\\a.avi", file, WatchStep::kPublish},
      {"added upper-case extension", kChangeAdded, u"C:\\w\\A.MKV", file, WatchStep::kPublish},
      {"added empty file waits for its content", kChangeAdded, u"C:\\w\\a.avi", empty, WatchStep::kLogOnly},
      {"added and gone again", kChangeAdded, u"C:\\w\\a.avi", none, WatchStep::kLogOnly},
      {"added other file", kChangeAdded, u"C:\\w\\notes.txt", file, WatchStep::kLogOnly},
      {"added .rmv is not publishable", kChangeAdded, u"C:\\w\\a.rmv", file, WatchStep::kLogOnly},
      {"added directory", kChangeAdded, u"C:\\w\\season2", dir, WatchStep::kPublish},
      {"removed media file", kChangeRemoved, u"C:\\w\\a.rmvb", none, WatchStep::kCancel},
      {"removed other file", kChangeRemoved, u"C:\\w\\a.txt", none, WatchStep::kLogOnly},
      {"modified media file", kChangeModified, u"C:\\w\\a.wmv", file, WatchStep::kPublish},
      {"modified empty file: the publish step skips it", kChangeModified, u"C:\\w\\a.wmv", empty, WatchStep::kPublish},
      {"modified and gone", kChangeModified, u"C:\\w\\a.wmv", none, WatchStep::kLogOnly},
      {"modified directory", kChangeModified, u"C:\\w\\x.avi", dir, WatchStep::kLogOnly},
      {"renamed away", kChangeRenamedOld, u"C:\\w\\a.avi", none, WatchStep::kLogOnly},
      {"renamed to", kChangeRenamedNew, u"C:\\w\\b.avi", file, WatchStep::kLogOnly},
      {"unknown action", 9, u"C:\\w\\a.avi", file, WatchStep::kLogOnly},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(StepForChange(r.action, r.path, r.entry), r.step);
  }
}

TEST(WatchedFiles, TrackedChangesAndWhatARescanFindsGone) {
  WatchedFiles files;
  const ChangedEntry file{true, false, 10}, none{};
  TrackChange(kChangeAdded, u"C:\\w\\a.avi", file, &files);
  TrackChange(kChangeAdded, u"C:\\w\\b.avi", file, &files);
  TrackChange(kChangeAdded, u"C:\\w\\notes.txt", file, &files);  // not publishable: not tracked
  TrackChange(kChangeModified, u"C:\\w\\A.AVI", file, &files);   // the same file in another case
  TrackChange(kChangeRenamedOld, u"C:\\w\\b.avi", none, &files);
  TrackChange(kChangeRenamedNew, u"C:\\w\\c.avi", file, &files);
  TrackChange(kChangeAdded, u"C:\\w\\gone.avi", none, &files);   // vanished before it was looked at
  EXPECT_EQ(files, (WatchedFiles{u"C:\\w\\a.avi", u"C:\\w\\c.avi"}));
  TrackChange(kChangeRemoved, u"C:\\w\\A.avi", none, &files);
  EXPECT_EQ(files, (WatchedFiles{u"C:\\w\\c.avi"}));

  const WatchedFiles before{u"C:\\w\\a.avi", u"C:\\w\\b.avi", u"C:\\w\\sub\\c.mkv"};
  const WatchedFiles now{u"C:\\W\\A.avi", u"C:\\w\\d.avi"};
  EXPECT_EQ(VanishedFiles(before, now), (std::vector<std::u16string>{u"C:\\w\\b.avi", u"C:\\w\\sub\\c.mkv"}));
}

}  // namespace
