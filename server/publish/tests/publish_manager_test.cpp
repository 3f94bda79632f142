// The publish manager on a temporary tree and database, with doubles for the
// publish queue, the P2P core and the FTP share list.
#include "server/publish/publish_manager.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "foundation/util/path_ops.h"
#include "foundation/util/wide_text.h"
#include "server/db/published_db.h"

namespace {
const char16_t* U16(const std::wstring& s) { return reinterpret_cast<const char16_t*>(s.c_str()); }
std::wstring PathOf(const CPublishItem& it) {
  const std::u16string path = RecordPathText(it.fileName);
  return std::wstring(path.begin(), path.end());
}
std::wstring PathOf(const CPublishDir& d) {
  return std::wstring(reinterpret_cast<const wchar_t*>(d.path), RecordPathLength(d.path));
}
std::string Repeat(const char* s, int n) {
  std::string out;
  while (n-- > 0) out += s;
  return out;
}
std::string Hex(const uint8_t id[16]) {
  char b[33];
  for (int i = 0; i < 16; ++i) sprintf(b + 2 * i, "%02X", id[i]);
  return b;
}

struct FakeQueue : IPublishQueue {
  std::vector<std::wstring> added;
  std::vector<std::string> cancelled;
  std::map<std::string, CPublishItem> queued;
  bool stopped = false;
  void AddTask(const CPublishDir&, const std::wstring& path) override { added.push_back(path); }
  void CancelTask(const std::string& id) override { cancelled.push_back(id); }
  bool FindTask(const std::string& id, CPublishItem* item) override {
    auto it = queued.find(id);
    if (it == queued.end()) return false;
    *item = it->second;
    return true;
  }
  void Stop() override { stopped = true; }
};

struct FakeCore : IShareCore {
  bool loggedIn = true;
  std::vector<std::wstring> shared;
  std::vector<std::string> deleted;
  bool IsLoggedIn() override { return loggedIn; }
  int AddShare(const wchar_t* path, uint64_t, const uint8_t*) override {
    shared.push_back(path);
    return 0;
  }
  void DeleteShare(const uint8_t fid[16]) override { deleted.push_back(Hex(fid)); }
};

struct FakeFtp : IFtpShares {
  std::vector<std::wstring> added, removed;
  void AddShare(const std::wstring& d) override { added.push_back(d); }
  void RemoveShare(const std::wstring& d) override { removed.push_back(d); }
};

int g_loaderDone = 0;

class PublishManagerTest : public testing::Test {
 protected:
  void SetUp() override {
    wchar_t tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, tmp);
    root_ = std::wstring(tmp) + L"orchard_pm_" + std::to_wstring(GetCurrentProcessId());
    RemoveDirectoryTree(root_.c_str());
    CreateDirectoryW(root_.c_str(), nullptr);
    db_ = root_ + L"\\ZEDURE.db";
    ASSERT_TRUE(SetDatabasePath(db_.c_str()));
    ASSERT_EQ(OpenDatabaseFile(), 1);
    Wire(pm_);
    g_loaderDone = 0;
  }
  void TearDown() override {
    pm_.UnInit();
    CloseDatabase();
    RemoveDirectoryTree(root_.c_str());
  }
  void Wire(CPublishManager& m) {
    m.SetQueue(&queue_);
    m.SetShareCore(&core_);
    m.SetFtpShares(&ftp_);
    m.SetLoaderDone([] { ++g_loaderDone; });
  }
  std::wstring Dir(const std::wstring& rel) {
    std::wstring p = root_ + L"\\" + rel;
    CreateDirectoryW(p.c_str(), nullptr);
    return p;
  }
  std::wstring File(const std::wstring& rel, size_t size, DWORD attrs = 0) {
    std::wstring p = root_ + L"\\" + rel;
    HANDLE h = CreateFileW(p.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    std::string data(size, 'm');
    DWORD w = 0;
    if (size) WriteFile(h, data.data(), static_cast<DWORD>(size), &w, nullptr);
    CloseHandle(h);
    if (attrs) SetFileAttributesW(p.c_str(), attrs);
    return p;
  }
  // The tree most tests work on.
  std::wstring MakeTree() {
    const std::wstring v = Dir(L"Video");
    Dir(L"Video\\sub");
    Dir(L"Video\\sub\\deeper");
    Dir(L"Video\\emptydir");
    File(L"Video\\a.mp4", 100);
    File(L"Video\\notes.txt", 100);
    File(L"Video\\zero.mkv", 0);
    File(L"Video\\hidden.avi", 100, FILE_ATTRIBUTE_HIDDEN);
    File(L"Video\\almost.rmv", 100);
    File(L"Video\\sub\\c.rmvb", 100);
    File(L"Video\\sub\\deeper\\d.RM", 100);
    return v;
  }
  // Stores a file's row as the publish task does once it is published.
  void StoreAsPublished(const std::wstring& path, const CPublishDir& dir, uint8_t fidByte) {
    CPublishItem it{};
    std::memcpy(it.dirId, dir.dirId, 16);
    SetRecordPath(it.fileName, U16(path), path.size());
    MakePathRecordId(path, it.id);
    WIN32_FILE_ATTRIBUTE_DATA fa;
    ASSERT_TRUE(GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &fa));
    it.fileSize = (int64_t{fa.nFileSizeHigh} << 32) | fa.nFileSizeLow;
    it.lastModTime = (int64_t{fa.ftLastWriteTime.dwHighDateTime} << 32) | fa.ftLastWriteTime.dwLowDateTime;
    std::memset(it.fid, fidByte, 16);
    it.state = kPublishDone;
    ASSERT_EQ(SaveFile(it), 1);
  }
  CPublishDir Published(const std::wstring& path) {
    CPublishDir d{};
    EXPECT_TRUE(pm_.FindDir(path, &d));
    return d;
  }
  static std::set<std::wstring> Names(const std::vector<std::wstring>& paths) {
    std::set<std::wstring> s;
    for (const auto& p : paths) s.insert(p.substr(p.rfind(L'\\') + 1));
    return s;
  }

  std::wstring root_, db_;
  FakeQueue queue_;
  FakeCore core_;
  FakeFtp ftp_;
  CPublishManager pm_;
};
}  // namespace

TEST_F(PublishManagerTest, CoverageIsOnWholePathComponents) {
  const std::wstring v = root_ + L"\\Video";
  ASSERT_EQ(pm_.AddDirEx(v, 0), AddDirResult::kAdded);
  std::wstring lower = v;
  std::transform(lower.begin(), lower.end(), lower.begin(), ::towlower);
  struct Row { const char* name; std::wstring path; bool covered; };
  const Row rows[] = {
      {"the directory", v, true},
      {"a file in it", v + L"\\a.mp4", true},
      {"other letter case", lower + L"\\A.MP4", true},
      {"sibling with a longer name", v + L"s2", false},
      {"sibling file with a longer name", v + L"s2\\a.mp4", false},
      {"shorter prefix", root_ + L"\\Vid", false},
      {"parent", root_, false},
      {"empty", L"", false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    CPublishDir d{};
    EXPECT_EQ(pm_.FindDir(r.path, &d), r.covered);
    if (r.covered) {
      EXPECT_EQ(PathOf(d), v);
    }
  }
}

TEST_F(PublishManagerTest, AddDirRefusesOverlapsAndTooLongPaths) {
  const std::wstring v = root_ + L"\\Video";
  ASSERT_EQ(pm_.AddDirEx(v, 0), AddDirResult::kAdded);
  struct Row { const char* name; std::wstring path; AddDirResult result; };
  const Row rows[] = {
      {"again", v, AddDirResult::kOverlaps},
      {"a sub-directory", v + L"\\sub", AddDirResult::kOverlaps},
      {"its parent", root_, AddDirResult::kOverlaps},
      {"a sibling with a longer name", v + L"2", AddDirResult::kAdded},
      {"260 units", L"C:\\" + std::wstring(257, L'x'), AddDirResult::kBadPath},
      {"empty", L"", AddDirResult::kBadPath},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(pm_.AddDirEx(r.path, 0), r.result);
  }
  EXPECT_EQ(pm_.Dirs().size(), 2u);
  EXPECT_EQ(ftp_.added, (std::vector<std::wstring>{v, v + L"2"}));
  EXPECT_TRUE(pm_.OverlapsPublished(root_));
  EXPECT_FALSE(pm_.OverlapsPublished(root_ + L"\\Other"));
}

TEST_F(PublishManagerTest, AParentOfAPublishedDirectoryWouldStoreItsFilesTwice) {
  // Why a parent of a published directory is refused: were it published
  // beside the child (here as a restart would load both rows), its scan
  // would queue the child's stored files again under the parent's table, so
  // each would have two rows and two shares, and removing either directory
  // would withdraw files the other still publishes.
  const std::wstring v = MakeTree();
  ASSERT_EQ(pm_.AddDir(v, 0), 1);
  StoreAsPublished(v + L"\\a.mp4", Published(v), 0xAB);
  EXPECT_EQ(pm_.AddDirEx(root_, 1), AddDirResult::kOverlaps);
  EXPECT_TRUE(queue_.added.empty());

  CPublishDir parent;
  std::memset(&parent, 0, sizeof parent);
  ASSERT_TRUE(SetRecordPath(parent.path, U16(root_), root_.size()));
  MakePathRecordId(root_, parent.dirId);
  ASSERT_TRUE(SaveDir(parent, root_.c_str(), 1));
  CPublishManager both;
  Wire(both);
  ASSERT_EQ(both.LoadFromDatabase(), 1);
  ASSERT_EQ(both.Dirs().size(), 2u);
  both.PublishPath(root_, nullptr);
  EXPECT_EQ(Names(queue_.added).count(L"a.mp4"), 1u) << "the stored file is queued again, for a second row";
  both.UnInit();
}

TEST_F(PublishManagerTest, DirectoryNotStoredIsNotKept) {
  CloseDatabase();
  EXPECT_EQ(pm_.AddDirEx(root_ + L"\\Video", 0), AddDirResult::kNotStored);
  EXPECT_TRUE(pm_.Dirs().empty());
  EXPECT_TRUE(ftp_.added.empty());
}

TEST_F(PublishManagerTest, PublishAllQueuesOnlyPublishableVisibleFiles) {
  const std::wstring v = MakeTree();
  ASSERT_EQ(pm_.AddDir(v, 1), 1);
  EXPECT_EQ(Names(queue_.added), (std::set<std::wstring>{L"a.mp4", L"c.rmvb", L"d.RM"}));
}

TEST_F(PublishManagerTest, ScanDoesNotFollowReparsePoints) {
  const std::wstring v = MakeTree();
  const std::wstring outside = Dir(L"Outside");
  File(L"Outside\\far.mp4", 100);
  const std::wstring link = v + L"\\link";
  if (!CreateSymbolicLinkW(link.c_str(), outside.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY) ||
      !(GetFileAttributesW(link.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT))
    GTEST_SKIP() << "no directory links on this system";
  ASSERT_EQ(pm_.AddDir(v, 1), 1);
  EXPECT_EQ(Names(queue_.added).count(L"far.mp4"), 0u);
}

TEST_F(PublishManagerTest, UnchangedStoredFilesAreSkipped) {
  const std::wstring v = MakeTree();
  ASSERT_EQ(pm_.AddDir(v, 0), 1);
  const CPublishDir d = Published(v);
  StoreAsPublished(v + L"\\a.mp4", d, 0xAA);
  pm_.PublishPath(v, nullptr);
  EXPECT_EQ(Names(queue_.added), (std::set<std::wstring>{L"c.rmvb", L"d.RM"}));
  // A new last-write time makes it publish again.
  HANDLE h = CreateFileW((v + L"\\a.mp4").c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  FILETIME ft = {1, 30000000};
  SetFileTime(h, nullptr, nullptr, &ft);
  CloseHandle(h);
  queue_.added.clear();
  pm_.PublishPath(v + L"\\a.mp4", nullptr);
  EXPECT_EQ(Names(queue_.added), (std::set<std::wstring>{L"a.mp4"}));
}

TEST_F(PublishManagerTest, PublishingOutsideEveryDirectoryAddsIt) {
  const std::wstring v = MakeTree();
  pm_.PublishPath(root_ + L"\\missing", nullptr);  // not there: no directory is made of it
  EXPECT_TRUE(pm_.Dirs().empty());
  pm_.PublishPath(v + L"\\a.mp4", nullptr);  // a file: refused, not made a directory
  EXPECT_TRUE(pm_.Dirs().empty());
  EXPECT_TRUE(queue_.added.empty());
  pm_.PublishPath(v + L"\\sub", nullptr);
  ASSERT_EQ(pm_.Dirs().size(), 1u);
  EXPECT_EQ(PathOf(pm_.Dirs()[0]), v + L"\\sub");
  EXPECT_EQ(pm_.Dirs()[0].pubAll, 1u);
  EXPECT_EQ(Names(queue_.added), (std::set<std::wstring>{L"c.rmvb", L"d.RM"}));
}

TEST_F(PublishManagerTest, CancelWithdrawsSharesOnlyWhileLoggedIn) {
  const std::wstring v = MakeTree();
  ASSERT_EQ(pm_.AddDir(v, 0), 1);
  const CPublishDir d = Published(v);
  const std::wstring table = DirTableName(d.dirId);
  struct Row { const char* name; bool loggedIn; size_t deletes; };
  static const Row rows[] = {{"logged in", true, 1}, {"not logged in", false, 0}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    core_.deleted.clear();
    queue_.cancelled.clear();
    core_.loggedIn = r.loggedIn;
    const std::wstring a = v + L"\\a.mp4";
    StoreAsPublished(a, d, 0xAB);
    pm_.CancelFile(a, nullptr);
    EXPECT_EQ(core_.deleted.size(), r.deletes);
    if (r.deletes) {
      EXPECT_EQ(core_.deleted[0], Repeat("AB", 16));
    }
    CPublishItem q{};
    std::memcpy(q.dirId, d.dirId, 16);
    MakePathRecordId(a, q.id);
    EXPECT_FALSE(QueryFile(&q));
    uint8_t id[16];
    MakePathRecordId(a, id);
    EXPECT_EQ(queue_.cancelled, std::vector<std::string>{Hex(id)});
  }
}

TEST_F(PublishManagerTest, RemoveDirMatchesExactlyAndClearsItsRows) {
  const std::wstring v = MakeTree();
  const std::wstring v2 = Dir(L"Video2");
  File(L"Video2\\e.flv", 10);
  ASSERT_EQ(pm_.AddDir(v, 0), 1);
  ASSERT_EQ(pm_.AddDir(v2, 0), 1);
  const CPublishDir d2 = Published(v2);
  StoreAsPublished(v2 + L"\\e.flv", d2, 0xEE);
  pm_.RemoveDir(v + L"\\sub");  // inside, not the directory itself
  pm_.RemoveDir(root_ + L"\\Vid");
  EXPECT_EQ(pm_.Dirs().size(), 2u);
  std::wstring upper = v2;
  std::transform(upper.begin(), upper.end(), upper.begin(), ::towupper);
  pm_.RemoveDir(upper);
  ASSERT_EQ(pm_.Dirs().size(), 1u);
  EXPECT_EQ(PathOf(pm_.Dirs()[0]), v);
  EXPECT_EQ(ftp_.removed, std::vector<std::wstring>{v2});
  EXPECT_EQ(IsTableExist(DirTableName(d2.dirId).c_str()), 0);
  EXPECT_EQ(core_.deleted, std::vector<std::string>{Repeat("EE", 16)});
}

TEST_F(PublishManagerTest, ListDir) {
  const std::wstring v = MakeTree();
  ASSERT_EQ(pm_.AddDir(v, 0), 1);
  const CPublishDir d = Published(v);
  StoreAsPublished(v + L"\\sub\\c.rmvb", d, 0xCC);
  CPublishItem queued{};
  const std::wstring a = v + L"\\a.mp4";
  SetRecordPath(queued.fileName, U16(a), a.size());
  MakePathRecordId(a, queued.id);
  queued.state = kPublishRunning;
  queue_.queued[Hex(queued.id)] = queued;

  std::vector<CPublishItem> all;
  ASSERT_EQ(pm_.ListDir(v, &all, false), 1);
  std::map<std::wstring, CPublishItem> byName;
  for (const auto& it : all) byName[PathOf(it).substr(v.size() + 1)] = it;
  std::set<std::wstring> names;
  for (const auto& kv : byName) names.insert(kv.first);
  EXPECT_EQ(names, (std::set<std::wstring>{L"a.mp4", L"hidden.avi", L"sub", L"emptydir"}));
  EXPECT_EQ(byName[L"a.mp4"].state, kPublishRunning);
  EXPECT_EQ(byName[L"hidden.avi"].state, kPublishNone);
  EXPECT_TRUE(byName[L"sub"].attributes & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(0, std::memcmp(byName[L"hidden.avi"].dirId, d.dirId, 16));

  std::vector<CPublishItem> sub;
  ASSERT_EQ(pm_.ListDir(v + L"\\sub", &sub, false), 1);
  ASSERT_EQ(sub.size(), 2u);  // c.rmvb published, and deeper
  for (const auto& it : sub) {
    if (PathOf(it).find(L"c.rmvb") != std::wstring::npos) {
      EXPECT_EQ(it.state, kPublishDone);
    }
  }

  std::vector<CPublishItem> unpublished;
  ASSERT_EQ(pm_.ListDir(v, &unpublished, true), 1);
  std::set<std::wstring> un;
  for (const auto& it : unpublished) un.insert(PathOf(it).substr(PathOf(it).rfind(L'\\') + 1));
  EXPECT_EQ(un, (std::set<std::wstring>{L"a.mp4", L"hidden.avi", L"d.RM"}));

  std::vector<CPublishItem> none;
  EXPECT_EQ(pm_.ListDir(root_, &none, false), 0);  // holds a published directory but is not in one
  EXPECT_EQ(pm_.ListDir(v + L"\\missing", &none, false), 0);
}

TEST_F(PublishManagerTest, LoadFromDatabaseAndReshare) {
  const std::wstring v = MakeTree();
  const std::wstring gone = Dir(L"Gone");
  ASSERT_EQ(pm_.AddDir(v, 0), 1);
  ASSERT_EQ(pm_.AddDir(gone, 0), 1);
  StoreAsPublished(v + L"\\a.mp4", Published(v), 0xA1);
  StoreAsPublished(v + L"\\sub\\c.rmvb", Published(v), 0xC1);
  File(L"Video\\sub\\c.rmvb", 200);  // changed since: not shared again
  RemoveDirectoryW(gone.c_str());

  CPublishManager restarted;
  Wire(restarted);
  EXPECT_FALSE(restarted.StartLoader());  // nothing queued yet
  ASSERT_EQ(restarted.LoadFromDatabase(), 1);
  ASSERT_EQ(restarted.Dirs().size(), 1u);  // the missing directory is skipped, its row kept
  EXPECT_EQ(PathOf(restarted.Dirs()[0]), v);
  EXPECT_EQ(restarted.LoadQueueSize(), 1u);
  ASSERT_TRUE(restarted.StartLoader());
  ASSERT_TRUE(restarted.WaitLoader(10000));
  EXPECT_EQ(core_.shared, std::vector<std::wstring>{v + L"\\a.mp4"});
  EXPECT_EQ(g_loaderDone, 1);
  EXPECT_EQ(restarted.LoadQueueSize(), 0u);
  restarted.UnInit();
  EXPECT_TRUE(queue_.stopped);
}

TEST_F(PublishManagerTest, LoaderQueuesAgainWhatPublishAllDirectoriesHadNotStored) {
  const std::wstring v = MakeTree();
  const std::wstring one = Dir(L"OneByOne");
  File(L"OneByOne\\x.avi", 100);
  ASSERT_EQ(pm_.AddDir(v, 1), 1);
  ASSERT_EQ(pm_.AddDir(one, 0), 1);
  StoreAsPublished(v + L"\\a.mp4", Published(v), 0xA3);
  StoreAsPublished(v + L"\\sub\\c.rmvb", Published(v), 0xC3);
  File(L"Video\\sub\\c.rmvb", 300);  // stored, changed since: left to the user
  queue_.added.clear();

  CPublishManager restarted;
  Wire(restarted);
  ASSERT_EQ(restarted.LoadFromDatabase(), 1);
  ASSERT_TRUE(restarted.StartLoader());
  ASSERT_TRUE(restarted.WaitLoader(10000));
  EXPECT_EQ(core_.shared, std::vector<std::wstring>{v + L"\\a.mp4"});
  // Only the never-stored files of the publish-all directory.
  EXPECT_EQ(queue_.added, std::vector<std::wstring>{v + L"\\sub\\deeper\\d.RM"});
  restarted.UnInit();
}

TEST_F(PublishManagerTest, LoaderQueueHoldsCopies) {
  const std::wstring v = MakeTree();
  ASSERT_EQ(pm_.AddDir(v, 0), 1);
  StoreAsPublished(v + L"\\a.mp4", Published(v), 0xA2);
  pm_.QueueLoad(Published(v));
  pm_.RemoveDir(v);  // frees the listed record and drops the table
  ASSERT_TRUE(pm_.StartLoader());
  ASSERT_TRUE(pm_.WaitLoader(10000));
  EXPECT_TRUE(core_.shared.empty());
  EXPECT_EQ(g_loaderDone, 1);
}
