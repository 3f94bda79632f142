// The directory watcher on a temporary tree, with a publish manager whose
// publish queue, P2P core and FTP share list are doubles: what it queues and
// cancels for each change, the rescan after an overflow, a watched directory
// that goes away, and its start and stop rules.
#include "server/watch/dir_watcher.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/log/server_logs.h"
#include "foundation/text/hex_text.h"
#include "foundation/util/path_ops.h"
#include "foundation/util/tests/temp_dir.h"
#include "foundation/util/wide_text.h"
#include "server/config/svr_config.h"
#include "server/db/published_db.h"
#include "server/publish/publish_manager.h"

namespace {

struct FakeQueue : IPublishQueue {
  std::mutex lock;
  std::vector<std::wstring> added;
  std::vector<std::string> cancelled;
  void AddTask(const CPublishDir&, const std::wstring& path) override {
    std::lock_guard<std::mutex> hold(lock);
    added.push_back(path);
  }
  void CancelTask(const std::string& id) override {
    std::lock_guard<std::mutex> hold(lock);
    cancelled.push_back(id);
  }
  bool FindTask(const std::string&, CPublishItem*) override { return false; }
  void Stop() override {}
  // 1 once queued: the publish queue keeps a file queued twice as one task.
  size_t Added(const std::wstring& path) {
    std::lock_guard<std::mutex> hold(lock);
    return std::find(added.begin(), added.end(), path) != added.end() ? 1 : 0;
  }
  size_t Cancelled(const std::wstring& path) {
    uint8_t id[16];
    MakePathRecordId(path, id);
    std::lock_guard<std::mutex> hold(lock);
    return size_t(std::count(cancelled.begin(), cancelled.end(), HexText(id, 16)));
  }
};

struct NoCore : IShareCore {
  bool IsLoggedIn() override { return false; }
  int AddShare(const wchar_t*, uint64_t, const uint8_t*) override { return 0; }
  void DeleteShare(const uint8_t*) override {}
};

struct NoFtp : IFtpShares {
  void AddShare(const std::wstring&) override {}
  void RemoveShare(const std::wstring&) override {}
};

bool WaitFor(const std::function<bool()>& done, DWORD ms = 10000) {
  for (DWORD waited = 0; waited < ms; waited += 50) {
    if (done()) return true;
    Sleep(50);
  }
  return done();
}

class DirWatcherTest : public testing::Test {
 protected:
  void SetUp() override {
    log_ = root_ + L"\\od_server.Log";
    ASSERT_EQ(g_MainLog.Open(log_.c_str(), 0, false), 1);
    ASSERT_TRUE(SetDatabasePath((root_ + L"\\ZEDURE.db").c_str()));
    ASSERT_EQ(OpenDatabaseFile(), 1);
    manager_.SetQueue(&queue_);
    manager_.SetShareCore(&core_);
    manager_.SetFtpShares(&ftp_);
    watched_ = Dir(L"auto");
    ASSERT_EQ(manager_.AddDir(watched_, 0), 1);
  }
  void TearDown() override {
    watcher_.UnInit();
    manager_.UnInit();
    CloseDatabase();
    g_MainLog.Close();
  }
  std::wstring Dir(const std::wstring& rel) {
    const std::wstring p = root_ + L"\\" + rel;
    CreateDirectoryW(p.c_str(), nullptr);
    return p;
  }
  std::wstring File(const std::wstring& rel, size_t size) {
    const std::wstring p = root_ + L"\\" + rel;
    HANDLE h = CreateFileW(p.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
    const std::string data(size, 'v');
    DWORD w = 0;
    if (size) WriteFile(h, data.data(), DWORD(size), &w, nullptr);
    CloseHandle(h);
    return p;
  }
  std::string Log() {
    std::ifstream in(log_.c_str(), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  bool Logged(const std::string& text) { return Log().find("] " + text) != std::string::npos; }
  std::string Gbk(const std::wstring& s) { return std::string(s.begin(), s.end()); }  // the paths here are ASCII

  TempDir temp_{L"watch"};
  const std::wstring root_ = temp_.Path();
  std::wstring log_, watched_;
  FakeQueue queue_;
  NoCore core_;
  NoFtp ftp_;
  CPublishManager manager_;
  CDirWatcher watcher_{manager_};
};

TEST_F(DirWatcherTest, PublishesAtStartThenFollowsChanges) {
  const std::wstring before = File(L"auto\\before.avi", 100);
  watcher_.Enable(false);
  ASSERT_EQ(watcher_.Start(watched_), 1);
  EXPECT_EQ(g_SvrConfig.AutoDir(), watched_);
  EXPECT_TRUE(WaitFor([&] { return queue_.Added(before) == 1; })) << "the directory is published when the watch starts";
  Sleep(300);  // the watch is open once the start's publish is done

  struct Row {
    const char* name;
    std::function<void()> act;
    std::wstring path;
    size_t added, cancelled;  // afterwards, in all
    const char* line;         // logged for the change, with the path
  } rows[] = {
      {"new file", [&] { File(L"auto\\new.mkv", 2000); }, root_ + L"\\auto\\new.mkv", 1, 0, "AutoPub - added - "},
      {"empty file waits", [&] { File(L"auto\\grow.avi", 0); }, root_ + L"\\auto\\grow.avi", 0, 0, nullptr},
      {"and is published once it grows", [&] { File(L"auto\\grow.avi", 500); }, root_ + L"\\auto\\grow.avi", 1, 0,
       "AutoPub - modified - "},
      {"other files are not", [&] { File(L"auto\\notes.txt", 10); }, root_ + L"\\auto\\notes.txt", 0, 0, nullptr},
      {"file in a new sub-directory", [&] { Dir(L"auto\\sub"), File(L"auto\\sub\\s.wmv", 10); },
       root_ + L"\\auto\\sub\\s.wmv", 1, 0, "AutoPub - added - "},
      {"removed file is cancelled", [&] { DeleteFileW((root_ + L"\\auto\\new.mkv").c_str()); },
       root_ + L"\\auto\\new.mkv", 1, 1, "AutoPub - removed - "},
      {"rename is only logged",
       [&] { MoveFileW((root_ + L"\\auto\\before.avi").c_str(), (root_ + L"\\auto\\after.avi").c_str()); },
       root_ + L"\\auto\\after.avi", 0, 0, "AutoPub - 5("},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    r.act();
    if (r.line) {
      const std::string line = r.line;
      EXPECT_TRUE(WaitFor([&] { return Log().find(line) != std::string::npos && Log().find(Gbk(r.path)) != std::string::npos; }));
    }
    if (r.added || r.cancelled) {
      EXPECT_TRUE(WaitFor([&] { return queue_.Added(r.path) >= r.added && queue_.Cancelled(r.path) >= r.cancelled; }));
    }
    Sleep(400);  // nothing more comes of it
    EXPECT_EQ(queue_.Added(r.path), r.added);
    EXPECT_EQ(queue_.Cancelled(r.path), r.cancelled);
  }
  EXPECT_EQ(queue_.Cancelled(root_ + L"\\auto\\before.avi"), 0u) << "a rename cancels nothing";
  EXPECT_TRUE(Logged("AutoPublish Start, ThreadID=("));
}

TEST_F(DirWatcherTest, OverflowRescansInsteadOfLosingChanges) {
  std::vector<std::wstring> old;
  for (int i = 0; i < 30; ++i) old.push_back(File(L"auto\\old_" + std::to_wstring(i) + L".avi", 10));
  watcher_.Enable(false);
  ASSERT_EQ(watcher_.Start(watched_), 1);
  ASSERT_TRUE(WaitFor([&] { return queue_.Added(old.back()) == 1; }));
  Sleep(300);
  // Far more changes than 1104 bytes of records hold, made at once.
  std::vector<std::wstring> fresh;
  for (int i = 0; i < 150; ++i) fresh.push_back(File(L"auto\\a_rather_long_file_name_" + std::to_wstring(i) + L".avi", 10));
  for (const std::wstring& p : old) DeleteFileW(p.c_str());
  EXPECT_TRUE(WaitFor([&] { return Logged("AutoPub - changes overflowed, rescan - " + Gbk(watched_)); }));
  for (const std::wstring& p : fresh) EXPECT_TRUE(WaitFor([&] { return queue_.Added(p) >= 1; })) << Gbk(p);
  for (const std::wstring& p : old) EXPECT_TRUE(WaitFor([&] { return queue_.Cancelled(p) >= 1; })) << Gbk(p);
}

TEST_F(DirWatcherTest, WatchEndsCleanlyWhenItsDirectoryGoes) {
  watcher_.Enable(false);
  ASSERT_EQ(watcher_.Start(watched_), 1);
  EXPECT_TRUE(watcher_.Watching());
  Sleep(300);
  // Moved away: removed through Wine it would stay while watched (see read_changes_test.cpp).
  ASSERT_TRUE(MoveFileW(watched_.c_str(), (root_ + L"\\moved").c_str()));
  EXPECT_TRUE(WaitFor([&] { return !watcher_.Watching(); }, 3 * kWatchPollMs));
  EXPECT_TRUE(Logged("AutoPub - watched directory gone - " + Gbk(watched_)));
  // The same path, back again, is watched anew.
  Dir(L"auto");
  EXPECT_EQ(watcher_.SetDir(watched_), 1);
  EXPECT_TRUE(watcher_.Watching());
}

TEST_F(DirWatcherTest, StartAndStopRules) {
  const std::wstring other = Dir(L"other");
  const std::wstring file = File(L"auto\\f.avi", 5);
  struct Row {
    const char* name;
    std::function<int()> act;
    int result;
    bool watching;
    std::wstring dir;
  } rows[] = {
      {"before login: named, not watched", [&] { return watcher_.Start(watched_); }, 1, false, watched_},
      {"login starts it", [&] { return watcher_.Enable(false), 1; }, 1, true, watched_},
      {"same directory in another case: no restart",
       [&] {
         std::wstring upper = watched_;
         CharUpperW(upper.data());
         return watcher_.SetDir(upper);
       },
       0, true, watched_},
      {"another directory", [&] { return watcher_.SetDir(other + L"\\"); }, 1, true, other},
      {"a file stops the watch and starts none", [&] { return watcher_.SetDir(file); }, 0, false, L""},
      {"back to a directory", [&] { return watcher_.SetDir(watched_); }, 1, true, watched_},
      {"empty path", [&] { return watcher_.SetDir(L""); }, 0, true, watched_},
      {"stop", [&] { return watcher_.Stop(), 0; }, 0, false, L""},
      {"missing directory", [&] { return watcher_.Start(root_ + L"\\missing"); }, 0, false, L""},
      {"after the stop sequence nothing starts", [&] { return watcher_.UnInit(), watcher_.Start(watched_); }, 0, false,
       L""},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(r.act(), r.result);
    EXPECT_EQ(watcher_.Watching(), r.watching);
    EXPECT_EQ(watcher_.Dir(), r.dir);
  }
  EXPECT_EQ(g_SvrConfig.AutoDir(), watched_) << "stopping keeps the setting";
  EXPECT_TRUE(Logged("AutoPub - not a directory - " + Gbk(file)));
  EXPECT_TRUE(Logged("UnInit - DirWatcher"));
}

TEST_F(DirWatcherTest, LoaderStartsTheWatchWhenItRuns) {
  ASSERT_EQ(watcher_.Start(watched_), 1);
  watcher_.Enable(true);  // the loader's end starts it
  EXPECT_FALSE(watcher_.Watching());
  EXPECT_EQ(watcher_.SetDir(g_SvrConfig.AutoDir()), 1);
  EXPECT_TRUE(watcher_.Watching());
}

}  // namespace
