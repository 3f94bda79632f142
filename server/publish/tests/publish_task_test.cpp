// The publish task on a temporary tree and database, with doubles for the
// P2P core's share list and the lookup and report clients: key order, files
// set aside after failures, re-queued changes, cancel during sharing, the
// stored-record path, the report attempts and stopping during requests.
#include "server/publish/publish_task.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/log/server_logs.h"
#include "foundation/text/hex_text.h"
#include "foundation/util/path_ops.h"
#include "foundation/util/wide_text.h"
#include "server/db/published_db.h"
#include "server/hash/hash_serial.h"
#include "sqlite3.h"

namespace {

std::string ReadAll(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}
size_t CountOf(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}
std::string Narrow(const std::wstring& w) { return std::string(w.begin(), w.end()); }
std::string KeyOf(const std::wstring& path) {
  uint8_t id[16];
  MakePathRecordId(path, id);
  return HexText(id, 16);
}
bool WaitFor(const std::function<bool()>& done, DWORD ms = 10000) {
  const DWORD start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start > ms) return false;
    Sleep(20);
  }
  return true;
}

struct FakeCore : IShareCore {
  std::mutex lock;
  std::vector<std::wstring> shared;
  std::vector<std::string> deleted;
  std::map<std::wstring, int> results;  // path -> add-share result (default 0)
  std::function<void(const std::wstring&)> onShare;
  bool IsLoggedIn() override { return true; }
  int AddShare(const wchar_t* path, uint64_t, const uint8_t*) override {
    if (onShare) onShare(path);
    std::lock_guard<std::mutex> g(lock);
    shared.push_back(path);
    auto it = results.find(path);
    return it == results.end() ? 0 : it->second;
  }
  void DeleteShare(const uint8_t fid[16]) override {
    std::lock_guard<std::mutex> g(lock);
    deleted.push_back(HexText(fid, 16));
  }
  void Reset() {
    shared.clear();
    deleted.clear();
    results.clear();
    onShare = nullptr;
  }
  size_t SharedCount(const std::wstring& path) {
    std::lock_guard<std::mutex> g(lock);
    size_t n = 0;
    for (auto& p : shared) n += p == path;
    return n;
  }
};

// Answers with both ids, or blocks until cancelled.
struct FakeLookup : ILookupClient {
  bool answer = true;
  bool block = false;
  std::atomic<int> queries{0}, cancelled{0};
  void Reset() {
    answer = true;
    block = false;
    queries = cancelled = 0;
  }
  int Query(const std::string&, HANDLE cancel, DWORD, LookupReply* reply) override {
    ++queries;
    if (block && WaitForSingleObject(cancel, 20000) == WAIT_OBJECT_0) {
      ++cancelled;
      return -1234;
    }
    if (!answer) return kHttpNoConnection;
    reply->cid = std::string(40, 'C');
    reply->qid = std::string(40, 'Q');
    return 0;
  }
};

struct FakeReport : IReportClient {
  std::mutex lock;
  std::map<std::string, int> sends;  // fid -> attempts
  int error = 0;
  bool block = false;
  std::atomic<int> cancelled{0};
  std::atomic<bool> returned{false};
  void Reset() {
    sends.clear();
    error = 0;
    block = false;
    cancelled = 0;
    stuck = nullptr;
    returned = false;
  }
  HANDLE stuck = nullptr;  // when set: waits for it, deaf to the cancel event
  bool Send(const ReportRequest& r, HANDLE cancel, DWORD, int, DWORD, int* e) override {
    {
      std::lock_guard<std::mutex> g(lock);
      ++sends[r.fidHex];
    }
    if (stuck) {
      WaitForSingleObject(stuck, 60000);
      *e = -9;
      returned = true;
      return false;
    }
    if (block && WaitForSingleObject(cancel, 20000) == WAIT_OBJECT_0) {
      ++cancelled;
      *e = -1234;
      return false;
    }
    *e = error;
    return error == 0;
  }
  int Attempts() {
    std::lock_guard<std::mutex> g(lock);
    int n = 0;
    for (auto& [k, v] : sends) n += v;
    return n;
  }
};

class PublishTaskTest : public testing::Test {
 protected:
  void SetUp() override {
    wchar_t tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, tmp);
    root_ = std::wstring(tmp) + L"orchard_task_" + std::to_wstring(GetCurrentProcessId());
    RemoveDirectoryTree(root_.c_str());
    CreateDirectoryW(root_.c_str(), nullptr);
    media_ = root_ + L"\\Media";
    CreateDirectoryW(media_.c_str(), nullptr);
    ASSERT_TRUE(SetDatabasePath((root_ + L"\\ZEDURE.db").c_str()));
    ASSERT_EQ(OpenDatabaseFile(), 1);
    CHashSerial::GetInstance()->SetDataDir(root_);
    g_MainLog.Open((root_ + L"\\main.log").c_str(), 1, true);
    g_LinkLog.Open((root_ + L"\\PublishList.Log").c_str(), kLinkLogLevel, true);
    SetEnvironmentVariableW(L"TALLYHUB_REPORT_FILE", (root_ + L"\\tally.txt").c_str());
    std::memset(&dir_, 0, sizeof dir_);
    MakePathRecordId(media_, dir_.dirId);
    std::memcpy(dir_.path, media_.c_str(), media_.size() * 2);
    core_.Reset();
    lookup_.Reset();
    report_.Reset();
    task_ = CPublishTask::GetInstance();
    task_->SetShareCore(&core_);
    task_->SetLookupClient(&lookup_);
    task_->SetReportClient(&report_);
    task_->SetReportLogPath(root_ + L"\\p2s_speedup.dat");
    task_->SetRetryBase(400);
  }
  void TearDown() override {
    CPublishTask::FreeInstance();
    CHashSerial::FreeInstance();
    g_MainLog.Close();
    g_LinkLog.Close();
    CloseDatabase();
    SetEnvironmentVariableW(L"TALLYHUB_REPORT_FILE", nullptr);
    RemoveDirectoryTree(root_.c_str());
  }
  std::wstring File(const std::wstring& name, size_t size, char fill = 'm') {
    const std::wstring p = media_ + L"\\" + name;
    HANDLE h = CreateFileW(p.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    std::string data(size, fill);
    for (size_t i = 0; i < size; i += 4096) data[i] = char(i / 4096);
    DWORD w = 0;
    if (size) WriteFile(h, data.data(), DWORD(size), &w, nullptr);
    CloseHandle(h);
    return p;
  }
  bool Stored(const std::wstring& path, CPublishItem* out = nullptr) {
    CPublishItem item;
    std::memset(&item, 0, sizeof item);
    std::memcpy(item.dirId, dir_.dirId, 16);
    std::memcpy(item.fileName, path.c_str(), path.size() * 2);
    MakePathRecordId(path, item.id);
    const bool found = QueryFile(&item);
    if (out) *out = item;
    return found;
  }
  uint8_t StateOf(const std::wstring& path) {
    CPublishItem item;
    return task_->FindTask(KeyOf(path), &item) ? item.state : 0;
  }
  std::string MainLog() { return ReadAll(root_ + L"\\main.log"); }

  std::wstring root_, media_;
  CPublishDir dir_;
  CPublishTask* task_ = nullptr;
  FakeCore core_;
  FakeLookup lookup_;
  FakeReport report_;
};

TEST_F(PublishTaskTest, PublishesInKeyOrderWithLinksStatisticsAndRows) {
  std::vector<std::wstring> files = {File(L"a.avi", 5000), File(L"b,c.mkv", 70000), File(L"d.wmv", 300000)};
  for (auto& f : files) task_->AddTask(dir_, f);
  task_->AddTask(dir_, files[0]);  // queued twice: one task
  EXPECT_EQ(task_->TaskCount(), 3u);
  EXPECT_EQ(StateOf(files[1]), kPublishWaiting);
  task_->Start();
  ASSERT_TRUE(WaitFor([&] { return Stored(files[0]) && Stored(files[1]) && Stored(files[2]); }));
  task_->Stop();

  std::vector<std::wstring> byKey = files;
  std::sort(byKey.begin(), byKey.end(), [](auto& a, auto& b) { return KeyOf(a) < KeyOf(b); });
  EXPECT_EQ(core_.shared, byKey);
  const std::string log = MainLog();
  EXPECT_EQ(CountOf(log, "PUBTASK - ADDTask " + Narrow(files[0])), 1u);
  EXPECT_EQ(CountOf(log, "PUBTASK - AddShare - "), 3u);

  const std::string links = ReadAll(root_ + L"\\PublishList.Log");
  const std::string tally = ReadAll(root_ + L"\\tally.txt");
  for (auto& f : files) {
    SCOPED_TRACE(Narrow(f));
    CPublishItem row;
    ASSERT_TRUE(Stored(f, &row));
    EXPECT_EQ(row.pubTime != 0, true);
    const std::string fid = HexText(row.fid, 16);
    const std::string name = Narrow(f.substr(f.rfind(L'\\') + 1));
    const std::string vxhd = "vxhd://" + std::to_string(row.fileSize) + "|" + fid + "|" + name;
    EXPECT_EQ(CountOf(links, "," + Narrow(media_) + "," + vxhd), 1u) << links;
    EXPECT_EQ(CountOf(links, "," + Narrow(media_) + ",ftp://"), 3u);
    EXPECT_EQ(CountOf(tally, "1539=md5:" + fid), 1u) << tally;
    EXPECT_EQ(CountOf(tally, "1538=u64:" + std::to_string(row.fileSize)), 1u);
  }
  EXPECT_EQ(CountOf(tally, "report product=OD_MAPS"), 3u);
  EXPECT_EQ(CountOf(tally, "kind=01"), 3u);
}

TEST_F(PublishTaskTest, FailingFileIsSetAsideAndOthersGoOn) {
  struct Row {
    const char* name;
    const char* logged;  // the line of each attempt
    uint8_t stateAfter;
  } rows[] = {
      {"missing", "文件不存在", kPublishWaiting},
      {"grown", "大小变化", kPublishWaiting},
      {"unreadable", "Calclate file hash fail!", kPublishNone},
      {"share refused", "PUBTASK - AddShare - ", kPublishNone},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    TearDown();
    SetUp();
    const std::wstring bad = File(L"bad.avi", 8000);
    std::vector<std::wstring> good;
    for (int i = 0; i < 4; ++i) good.push_back(File(L"good" + std::to_wstring(i) + L".avi", 3000 + i));
    task_->AddTask(dir_, bad);
    for (auto& g : good) task_->AddTask(dir_, g);
    HANDLE lock = INVALID_HANDLE_VALUE;
    if (std::string(r.name) == "missing") DeleteFileW(bad.c_str());
    if (std::string(r.name) == "grown") File(L"bad.avi", 9000);
    if (std::string(r.name) == "unreadable")
      lock = CreateFileW(bad.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (std::string(r.name) == "share refused") core_.results[bad] = 4;
    task_->Start();
    EXPECT_TRUE(WaitFor([&] {
      for (auto& g : good)
        if (!Stored(g)) return false;
      return true;
    }));
    Sleep(1500);
    EXPECT_EQ(StateOf(bad), r.stateAfter);
    task_->Stop();
    if (lock != INVALID_HANDLE_VALUE) CloseHandle(lock);
    // Retried with a growing wait, each attempt logged once: not every 100 ms.
    const size_t attempts = CountOf(MainLog(), "Do Publish Task - " + Narrow(bad));
    EXPECT_GE(attempts, 2u);
    EXPECT_LE(attempts, 6u);
    if (std::string(r.name) != "share refused") {
      EXPECT_EQ(CountOf(MainLog(), r.logged), attempts);
    }
    EXPECT_FALSE(Stored(bad));
  }
}

TEST_F(PublishTaskTest, AFileIsPublishedOnlyOnceItsRowIsStored) {
  // The database may not grow, as on a full disk: the directory's table cannot be made.
  ASSERT_EQ(ExecSql(L"PRAGMA max_page_count=1"), SQLITE_ROW);
  const std::vector<std::wstring> files = {File(L"s1.avi", 3000), File(L"s2.avi", 5000)};
  for (auto& f : files) task_->AddTask(dir_, f);
  task_->Start();
  ASSERT_TRUE(WaitFor([&] { return core_.SharedCount(files[0]) + core_.SharedCount(files[1]) >= 4; }));
  for (auto& f : files) {
    SCOPED_TRACE(Narrow(f));
    EXPECT_FALSE(Stored(f));
    EXPECT_EQ(StateOf(f), kPublishNone) << "listed as published without its row";
    EXPECT_EQ(CountOf(MainLog(), "PUBTASK - AddReport - " + Narrow(f)), 0u);
  }
  EXPECT_GE(CountOf(MainLog(), "PUBTASK - SaveFile failed, SQLite error 13, retried later - "), 2u);
  {
    std::lock_guard<std::mutex> g(core_.lock);
    EXPECT_EQ(core_.deleted.size(), core_.shared.size()) << "a share outlived its failed save";
  }
  EXPECT_EQ(ReadAll(root_ + L"\\PublishList.Log").find("vxhd://"), std::string::npos);
  EXPECT_EQ(report_.Attempts(), 0);

  // Room again: each file is stored, linked and reported once.
  ASSERT_EQ(ExecSql(L"PRAGMA max_page_count=1000000"), SQLITE_ROW);
  ASSERT_TRUE(WaitFor([&] { return Stored(files[0]) && Stored(files[1]) && report_.Attempts() == 2; }, 20000));
  task_->Stop();
  const std::string links = ReadAll(root_ + L"\\PublishList.Log");
  for (auto& f : files) {
    SCOPED_TRACE(Narrow(f));
    const std::string name = Narrow(f.substr(f.rfind(L'\\') + 1));
    EXPECT_EQ(CountOf(links, "|" + name), 1u) << links;
    EXPECT_EQ(CountOf(links, "/" + name), 1u) << links;
  }
  std::lock_guard<std::mutex> g(core_.lock);
  EXPECT_EQ(core_.shared.size() - core_.deleted.size(), files.size());
}

TEST_F(PublishTaskTest, RequeuedChangedFileGetsItsNewSize) {
  const std::wstring f = File(L"grow.avi", 4000);
  task_->AddTask(dir_, f);
  File(L"grow.avi", 6000, 'x');
  task_->AddTask(dir_, f);
  CPublishItem queued;
  ASSERT_TRUE(task_->FindTask(KeyOf(f), &queued));
  EXPECT_EQ(queued.fileSize, 6000);
  task_->Start();
  CPublishItem row;
  ASSERT_TRUE(WaitFor([&] { return Stored(f, &row); }));
  EXPECT_EQ(row.fileSize, 6000);
  const std::string firstFid = HexText(row.fid, 16);

  // Published, then changed and queued again: published anew with new ids.
  File(L"grow.avi", 7000, 'y');
  task_->AddTask(dir_, f);
  ASSERT_TRUE(WaitFor([&] { return Stored(f, &row) && row.fileSize == 7000; }));
  EXPECT_NE(HexText(row.fid, 16), firstFid);
  EXPECT_EQ(core_.SharedCount(f), 2u);
}

TEST_F(PublishTaskTest, CancelWhileSharingRemovesTheShare) {
  const std::wstring f = File(L"c.avi", 5000);
  core_.onShare = [&](const std::wstring&) { task_->CancelTask(KeyOf(f)); };
  task_->AddTask(dir_, f);
  task_->Start();
  ASSERT_TRUE(WaitFor([&] { return core_.SharedCount(f) == 1; }));
  ASSERT_TRUE(WaitFor([&] { return task_->TaskCount() == 0; }));
  task_->Stop();
  EXPECT_FALSE(Stored(f));
  EXPECT_EQ(core_.deleted.size(), 1u);
  EXPECT_EQ(report_.Attempts(), 0);
}

TEST_F(PublishTaskTest, StoredRecordAndLookupSkipHashing) {
  const std::wstring f = File(L"big.avi", 65u << 20 | 12345);
  lookup_.answer = false;
  task_->AddTask(dir_, f);
  task_->Start();
  CPublishItem first;
  ASSERT_TRUE(WaitFor([&] { return Stored(f, &first); }, 60000));
  ASSERT_TRUE(WaitFor([&] { return task_->TaskCount() == 0; }));
  const std::string tally = ReadAll(root_ + L"\\tally.txt");
  EXPECT_EQ(CountOf(tally, "report "), 1u);

  struct Row {
    const char* name;
    bool answer;
    size_t statistics;  // reports added by this publish
  } rows[] = {{"lookup without ids: hashed again, stored ids kept", false, 1}, {"lookup with both ids", true, 0}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    lookup_.answer = r.answer;
    const int queries = lookup_.queries;
    const size_t before = CountOf(ReadAll(root_ + L"\\tally.txt"), "report ");
    const size_t shares = core_.SharedCount(f);
    task_->CancelTask(KeyOf(f));
    ASSERT_TRUE(WaitFor([&] { return task_->TaskCount() == 0; }));
    task_->AddTask(dir_, f);
    ASSERT_TRUE(WaitFor([&] { return core_.SharedCount(f) == shares + 1 && task_->TaskCount() == 0; }, 60000));
    EXPECT_EQ(lookup_.queries, queries + 1);
    EXPECT_EQ(CountOf(ReadAll(root_ + L"\\tally.txt"), "report "), before + r.statistics);
    CPublishItem again;
    ASSERT_TRUE(Stored(f, &again));
    EXPECT_EQ(std::memcmp(again.fid, first.fid, 16), 0);
    EXPECT_EQ(std::memcmp(again.sid, first.sid, 16), 0);
  }
}

TEST_F(PublishTaskTest, ReportsAreTriedUpToThreeTimesAndNoneIsLost) {
  struct Row {
    const char* name;
    int error;
    int attemptsEach;
    const char* logged;
  } rows[] = {{"accepted", 0, 1, " Report ok "},
              {"unreachable: tried three times", -2, 3, " Report Error -2 "},
              {"unreadable reply: tried three times", -5, 3, " Report Error -5 "},
              {"refused by the server: tried three times", -700, 3, " Report Error -700 "},
              {"refused by the server, other status: tried three times", -101, 3, " Report Error -101 "}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    TearDown();
    SetUp();
    CloseHandle(CreateFileW((root_ + L"\\p2s_speedup.dat").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    report_.error = r.error;
    task_->Start();
    std::vector<std::wstring> files;
    // Queued one by one, so the report thread often ends between them.
    for (int i = 0; i < 6; ++i) {
      files.push_back(File(L"r" + std::to_wstring(i) + L".avi", 2000 + i));
      task_->AddTask(dir_, files.back());
      Sleep(i % 2 ? 150 : 0);
    }
    ASSERT_TRUE(WaitFor([&] { return report_.Attempts() == 6 * r.attemptsEach; }));
    Sleep(200);
    task_->Stop();
    EXPECT_EQ(report_.Attempts(), 6 * r.attemptsEach);
    EXPECT_EQ(report_.sends.size(), 6u);
    const std::string log = ReadAll(root_ + L"\\p2s_speedup.dat");
    EXPECT_EQ(CountOf(log, r.logged), size_t(6 * r.attemptsEach)) << log;
    EXPECT_EQ(CountOf(log, ", FullHash:"), size_t(6 * r.attemptsEach)) << log;
    EXPECT_EQ(CountOf(log, "Report URL: "), size_t(6 * r.attemptsEach));
  }
}

TEST_F(PublishTaskTest, StopCancelsRequestsInFlight) {
  struct Row {
    const char* name;
    bool blockLookup, blockReport;
  } rows[] = {{"report in flight", false, true}, {"lookup in flight", true, false}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    TearDown();
    SetUp();
    report_.block = r.blockReport;
    lookup_.block = r.blockLookup;
    const std::wstring f = File(L"s.avi", r.blockLookup ? (65u << 20) + 7 : 3000);
    task_->AddTask(dir_, f);
    task_->Start();
    if (r.blockLookup) {
      // A first publish stores the hash record, so the second one asks the lookup service.
      lookup_.block = false;
      lookup_.answer = false;
      ASSERT_TRUE(WaitFor([&] { return Stored(f) && task_->TaskCount() == 0; }, 60000));
      lookup_.block = true;
      const int queries = lookup_.queries;
      task_->CancelTask(KeyOf(f));
      task_->AddTask(dir_, f);
      ASSERT_TRUE(WaitFor([&] { return lookup_.queries > queries; }));
    } else {
      ASSERT_TRUE(WaitFor([&] { return report_.Attempts() == 1; }));
    }
    const DWORD start = GetTickCount();
    task_->Stop();
    EXPECT_LT(GetTickCount() - start, 3000u);
    EXPECT_EQ(report_.cancelled + lookup_.cancelled, 1);
    // Nothing is queued once stopped.
    task_->AddTask(dir_, File(L"late.avi", 100));
    EXPECT_FALSE(task_->FindTask(KeyOf(media_ + L"\\late.avi"), nullptr));
  }
}

TEST_F(PublishTaskTest, StopWaitIsBoundedAndAStuckThreadKeepsWhatItUses) {
  // A report stuck in a call that ignores the stop: the stop still ends, and
  // the task object stays for the thread instead of being freed under it.
  HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  report_.stuck = release;
  task_->AddTask(dir_, File(L"stuck.avi", 4000));
  task_->Start();
  ASSERT_TRUE(WaitFor([&] { return report_.Attempts() == 1; }));
  const DWORD start = GetTickCount();
  task_->Stop();
  const DWORD took = GetTickCount() - start;
  EXPECT_GE(took, 5000u + CPublishTask::kStopLaterWaitMs - 200);
  EXPECT_LT(took, 5000u + CPublishTask::kStopLaterWaitMs + 3000);
  EXPECT_EQ(CountOf(MainLog(), "PUBTASK - a thread did not end in time; it is left running"), 1u);
  CPublishTask::FreeInstance();
  // Released, the thread finishes its report on the object that was kept.
  SetEvent(release);
  ASSERT_TRUE(WaitFor([&] { return report_.returned.load(); }));
  Sleep(300);
  CloseHandle(release);
  task_ = CPublishTask::GetInstance();  // a fresh one for TearDown
}

}  // namespace
