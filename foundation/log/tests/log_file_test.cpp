// CLogFile on real files: thresholds, append and truncate, the mark, closed
// logs, and entries from several threads at once.
#include "foundation/log/log_file.h"

#include <gtest/gtest.h>
#include <process.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

class LogFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    dir_ = std::wstring(temp) + L"orchard_log_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
           std::to_wstring(GetTickCount());
    CreateDirectoryW(dir_.c_str(), nullptr);
    path_ = dir_ + L"\\test.Log";
  }
  void TearDown() override {
    DeleteFileW(path_.c_str());
    RemoveDirectoryW(dir_.c_str());
  }
  std::string Contents() const {
    std::ifstream in(path_.c_str(), std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }
  void Put(const std::string& bytes) const {
    std::ofstream out(path_.c_str(), std::ios::binary | std::ios::trunc);
    out << bytes;
  }
  // The messages of the entries, without their "\r\n[time] " prefixes.
  std::vector<std::string> Messages() const {
    std::vector<std::string> out;
    std::string s = Contents();
    size_t pos = 0;
    while ((pos = s.find("\r\n[", pos)) != std::string::npos) {
      size_t close = s.find("] ", pos);
      size_t next = s.find("\r\n[", pos + 3);
      out.push_back(s.substr(close + 2, (next == std::string::npos ? s.size() : next) - close - 2));
      pos += 3;
    }
    return out;
  }
  std::wstring dir_, path_;
};

TEST_F(LogFileTest, ThresholdDecidesWhatIsWritten) {
  struct Row { uint32_t threshold; uint32_t level; int result; };
  static const Row rows[] = {
      {0, 0, 1}, {0, 1, 1}, {2, 1, 0}, {2, 2, 1}, {2, 3, 1}, {4, 3, 0}, {4, 4, 1},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << "threshold " << r.threshold << " level " << r.level);
    CLogFile log;
    ASSERT_EQ(log.Open(path_.c_str(), r.threshold, false), 1);
    EXPECT_EQ(WriteLog(&log, r.level, "entry %u", r.level), r.result);
    log.Close();
    EXPECT_EQ(Messages().size(), r.result ? 1u : 0u);
  }
}

TEST_F(LogFileTest, EntryStartsWithLineBreakAndLocalTime) {
  CLogFile log;
  ASSERT_EQ(log.Open(path_.c_str(), 1, false), 1);
  std::string before = LocalTimeText(4);
  ASSERT_EQ(WriteLog(&log, 1, "OrchardService(Version:%s) startup", "1.0.0.0"), 1);
  log.Close();
  std::string s = Contents();
  ASSERT_GE(s.size(), 28u);
  EXPECT_EQ(s.substr(0, 3), "\r\n[");
  EXPECT_EQ(s.substr(3, 10), before);  // a run across midnight would fail here once
  EXPECT_EQ(s[26], ']');
  EXPECT_EQ(s.substr(27), " OrchardService(Version:1.0.0.0) startup");
}

TEST_F(LogFileTest, TimeModeShortensTheStampToTimeAndMilliseconds) {
  CLogFile log;
  ASSERT_EQ(log.Open(path_.c_str(), 1, false), 1);
  log.SetTimeMode(2);
  ASSERT_EQ(WriteLog(&log, 1, "Start..."), 1);
  log.Close();
  std::string s = Contents();
  ASSERT_EQ(s.size(), 3u + 12u + 2u + 8u) << s;
  EXPECT_EQ(s.substr(0, 3), "\r\n[");
  for (size_t at : {5u, 8u, 11u}) EXPECT_EQ(s[at], ':') << "at " << at << " in " << s;
  EXPECT_EQ(s.substr(15), "] Start...");
}

TEST_F(LogFileTest, AppendKeepsContentsAndCreateEmpties) {
  struct Row { const char* name; bool append; std::string expected; };
  static const Row rows[] = {{"append", true, "old"}, {"create", false, ""}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    Put("old");
    CLogFile log;
    ASSERT_EQ(log.Open(path_.c_str(), 0, r.append), 1);
    EXPECT_EQ(Contents(), r.expected);
    ASSERT_EQ(WriteLog(&log, 1, "new"), 1);
    log.Close();
    std::string s = Contents();
    EXPECT_EQ(s.substr(0, r.expected.size()), r.expected);
    EXPECT_EQ(s.substr(s.size() - 5), "] new");
  }
}

TEST_F(LogFileTest, MarkOnlyOnEmptyFile) {
  struct Row { const char* name; std::string before; bool append; std::string expected; };
  static const Row rows[] = {
      {"new file", "", false, "\xFF\xFE"},
      {"existing empty file", "", true, "\xFF\xFE"},
      {"non-empty file", "abc", true, "abc"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    DeleteFileW(path_.c_str());
    if (!r.before.empty() || r.append) Put(r.before);
    CLogFile log;
    ASSERT_EQ(log.OpenEx(path_.c_str(), r.append, false, true), 1);
    log.Close();
    EXPECT_EQ(Contents(), r.expected);
  }
}

TEST_F(LogFileTest, ClosedOrUnopenedLogWritesNothing) {
  CLogFile never;
  EXPECT_FALSE(never.IsOpen());
  EXPECT_EQ(WriteLog(&never, 5, "nothing"), 0);
  EXPECT_EQ(WriteLog(nullptr, 5, "nothing"), 0);
  EXPECT_EQ(never.Open(nullptr, 0, true), 0);

  CLogFile log;
  ASSERT_EQ(log.Open(path_.c_str(), 0, false), 1);
  log.Close();
  EXPECT_FALSE(log.IsOpen());
  EXPECT_EQ(WriteLog(&log, 1, "after close"), 0);
  log.Close();
  log.CloseNoFlush();
  EXPECT_EQ(Contents(), "");
}

TEST_F(LogFileTest, OpenFailsInMissingDirectory) {
  CLogFile log;
  std::wstring bad = dir_ + L"\\missing\\x.Log";
  EXPECT_EQ(log.Open(bad.c_str(), 0, true), 0);
  EXPECT_FALSE(log.IsOpen());
  EXPECT_EQ(WriteLog(&log, 1, "x"), 0);
}

TEST_F(LogFileTest, ThresholdCanBeAppliedAfterOpening) {
  CLogFile log;
  ASSERT_EQ(log.Open(path_.c_str(), 0, false), 1);
  EXPECT_EQ(WriteLog(&log, 1, "before"), 1);
  log.SetThreshold(2);
  EXPECT_EQ(WriteLog(&log, 1, "dropped"), 0);
  EXPECT_EQ(WriteLog(&log, 3, "after"), 1);
  log.Close();
  EXPECT_EQ(Messages(), (std::vector<std::string>{"before", "after"}));
}

TEST_F(LogFileTest, LongMessageIsCutNotFailed) {
  CLogFile log;
  ASSERT_EQ(log.Open(path_.c_str(), 0, false), 1);
  std::string big(5000, 'z');
  EXPECT_EQ(WriteLog(&log, 1, "%s", big.c_str()), 1);
  log.Close();
  EXPECT_EQ(Contents().size(), kLogEntryMax);
}

TEST_F(LogFileTest, EntriesWrittenTogetherOrNotAtAll) {
  CLogFile log;
  ASSERT_EQ(log.Open(path_.c_str(), 4, false), 1);
  const std::string pair[2] = {"7,D:\\V,vxhd://5|AB|a.avi", "7,D:\\V,ftp://h/a.avi"};
  EXPECT_EQ(WriteLogEntries(&log, 4, pair, 2), 1);
  EXPECT_EQ(WriteLogEntries(&log, 3, pair, 2), 0);  // below the threshold
  // An entry too long to write whole: neither of the two is written.
  const std::string oversized[2] = {"7,D:\\V,vxhd://5|AB|b.avi", "7,D:\\V,ftp://h/" + std::string(2000, 'b')};
  EXPECT_EQ(WriteLogEntries(&log, 4, oversized, 2), 0);
  log.Close();
  EXPECT_EQ(Messages(), (std::vector<std::string>{pair[0], pair[1]}));
  const std::string s = Contents();
  EXPECT_EQ(s.substr(3, 23), s.substr(s.rfind("\r\n[") + 3, 23));  // one time for both
}

struct WriterArgs {
  CLogFile* log;
  int id;
};

unsigned __stdcall Writer(void* p) {
  auto* a = static_cast<WriterArgs*>(p);
  for (int i = 0; i < 200; ++i) WriteLog(a->log, 1, "writer %d entry %03d %s", a->id, i, "padding-padding-padding");
  return 0;
}

TEST_F(LogFileTest, EntriesFromManyThreadsStayWhole) {
  CLogFile log;
  ASSERT_EQ(log.Open(path_.c_str(), 0, true), 1);
  WriterArgs args[8];
  HANDLE threads[8];
  for (int t = 0; t < 8; ++t) {
    args[t] = {&log, t};
    threads[t] = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, Writer, &args[t], 0, nullptr));
    ASSERT_NE(threads[t], nullptr);
  }
  WaitForMultipleObjects(8, threads, TRUE, 60000);
  for (HANDLE h : threads) CloseHandle(h);
  log.Close();
  std::vector<std::string> messages = Messages();
  ASSERT_EQ(messages.size(), 8u * 200u);
  for (const std::string& m : messages) {
    ASSERT_EQ(m.size(), std::string("writer 0 entry 000 padding-padding-padding").size()) << m;
  }
}

}  // namespace
