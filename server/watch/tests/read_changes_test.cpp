// ReadDirectoryChangesW as the watcher calls it, on the system the tests run
// on (Wine): the records of each kind of change, the overflow of the 1104-byte
// buffer, and the removal of the watched directory itself, which Wine never
// reports. The watcher rescans on an overflow in either of its two forms, and
// looks for a watched directory that went.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "foundation/util/path_ops.h"
#include "foundation/util/tests/temp_dir.h"
#include "server/watch/codec/dir_changes.h"

namespace {

class ReadChanges : public testing::Test {
 public:
  void SetUp() override {
    ASSERT_TRUE(IsDirectory(dir_.c_str()));
    handle_ = CreateFileW(dir_.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                          nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
    ASSERT_NE(handle_, INVALID_HANDLE_VALUE);
    event_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  }
  void TearDown() override {
    if (handle_ != INVALID_HANDLE_VALUE) {
      CancelIo(handle_);
      DWORD n;
      GetOverlappedResult(handle_, &overlapped_, &n, TRUE);
      CloseHandle(handle_);
    }
    CloseHandle(event_);
  }
  bool Read() {
    overlapped_ = {};
    overlapped_.hEvent = event_;
    return ReadDirectoryChangesW(handle_, buffer_, sizeof buffer_, TRUE, 0x17F, nullptr, &overlapped_, nullptr) != FALSE;
  }
  // Every record delivered until the changes stop for 500 ms; each read is issued again at once.
  std::vector<std::pair<uint32_t, std::u16string>> Collect() {
    std::vector<std::pair<uint32_t, std::u16string>> got;
    while (WaitForSingleObject(event_, 500) == WAIT_OBJECT_0) {
      DWORD n = 0;
      if (!GetOverlappedResult(handle_, &overlapped_, &n, FALSE)) break;
      std::vector<DirChange> changes;
      ParseDirChanges(buffer_, n, &changes);
      for (const DirChange& c : changes) got.emplace_back(c.action, c.name);
      if (!Read()) break;
    }
    return got;
  }
  void Write(const std::wstring& name, const char* data) {
    HANDLE h = CreateFileW((dir_ + L"\\" + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD w = 0;
    if (*data) WriteFile(h, data, DWORD(strlen(data)), &w, nullptr);
    CloseHandle(h);
  }

  TempDir temp_{L"rdc"};
  const std::wstring dir_ = temp_.Path();
  HANDLE handle_ = INVALID_HANDLE_VALUE;
  HANDLE event_ = nullptr;
  OVERLAPPED overlapped_ = {};
  alignas(DWORD) uint8_t buffer_[kDirChangeBufferBytes];
};

bool Has(const std::vector<std::pair<uint32_t, std::u16string>>& got, uint32_t action, const std::u16string& name) {
  for (const auto& g : got)
    if (g.first == action && g.second == name) return true;
  return false;
}

TEST_F(ReadChanges, RecordsOfEachChange) {
  struct Row {
    const char* name;
    void (*act)(ReadChanges*);
    uint32_t action;
    std::u16string file;
  } rows[] = {
      {"created empty", [](ReadChanges* t) { t->Write(L"a.avi", ""); }, kChangeAdded, u"a.avi"},
      {"written to", [](ReadChanges* t) { t->Write(L"a.avi", "grown"); }, kChangeModified, u"a.avi"},
      {"renamed: old name", [](ReadChanges* t) { MoveFileW((t->dir_ + L"\\a.avi").c_str(), (t->dir_ + L"\\b.avi").c_str()); },
       kChangeRenamedOld, u"a.avi"},
      {"sub-directory", [](ReadChanges* t) { CreateDirectoryW((t->dir_ + L"\\sub").c_str(), nullptr); }, kChangeAdded, u"sub"},
      {"file in the sub-directory", [](ReadChanges* t) { t->Write(L"sub\\c.mkv", "x"); }, kChangeAdded, u"sub\\c.mkv"},
      {"removed", [](ReadChanges* t) { DeleteFileW((t->dir_ + L"\\b.avi").c_str()); }, kChangeRemoved, u"b.avi"},
  };
  ASSERT_TRUE(Read());
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    r.act(this);
    EXPECT_TRUE(Has(Collect(), r.action, r.file));
  }
}

TEST_F(ReadChanges, OverflowOfTheBufferComesAsAnErrorUnderWine) {
  ASSERT_TRUE(Read());
  for (int i = 0; i < 100; ++i) Write(L"overflowing_file_name_" + std::to_wstring(i) + L".avi", "x");
  // Wine hands out what fits of the first changes, then fails the next read
  // with ERROR_NOTIFY_ENUM_DIR; Windows completes a read with 0 bytes instead.
  bool overflowed = false;
  for (int reads = 0; reads < 200 && !overflowed; ++reads) {
    if (WaitForSingleObject(event_, 2000) != WAIT_OBJECT_0) break;
    DWORD n = 0;
    if (GetOverlappedResult(handle_, &overlapped_, &n, FALSE))
      overflowed = n == 0;
    else
      overflowed = GetLastError() == ERROR_NOTIFY_ENUM_DIR;
    if (!overflowed) {
      ASSERT_TRUE(Read());
    }
  }
  EXPECT_TRUE(overflowed) << "100 changes never overflowed the 1104-byte buffer";
}

TEST_F(ReadChanges, RemovedWatchedDirectoryIsNeverReportedUnderWine) {
  ASSERT_TRUE(Read());
  ASSERT_TRUE(RemoveDirectoryW(dir_.c_str()));
  // Windows ends the pending read with an error once the directory is marked
  // for deletion. Wine leaves the read pending, keeps the directory (its
  // removal waits for the watch's handle to close) and reports no pending
  // delete either: a watch cannot tell. The watcher looks for its directory
  // every kWatchPollMs, which catches a directory moved or removed outside
  // Wine; one removed through Wine goes when the watch stops.
  EXPECT_EQ(WaitForSingleObject(event_, 1500), DWORD(WAIT_TIMEOUT)) << "the system now reports the removal";
  EXPECT_TRUE(IsDirectory(dir_.c_str()));
  FILE_STANDARD_INFO info = {};
  ASSERT_TRUE(GetFileInformationByHandleEx(handle_, FileStandardInfo, &info, sizeof info));
  EXPECT_FALSE(info.DeletePending);
  CancelIo(handle_);
  DWORD n;
  GetOverlappedResult(handle_, &overlapped_, &n, TRUE);
  CloseHandle(handle_);
  handle_ = INVALID_HANDLE_VALUE;
  EXPECT_FALSE(IsDirectory(dir_.c_str())) << "gone with the last handle";
}

}  // namespace
