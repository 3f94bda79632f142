// Which rotated logs go: the dated copies beyond LogCount, whoever made them,
// oldest by their stamp; other files are never touched.
#include "p2pcore/codec/log_rotation.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using p2p::rotated_logs_to_delete;

TEST(LogRotation, DatedCopiesBeyondLogCount) {
  std::vector<std::wstring> sixteen;
  for (int i = 0; i < 16; ++i) sixteen.push_back(L"p2pbase_202401" + std::to_wstring(10 + i) + L"120000.log");
  std::vector<std::wstring> oldest_eleven(sixteen.begin(), sixteen.begin() + 11);
  struct Row {
    const char* name;
    std::vector<std::wstring> names;
    int log_count;
    std::vector<std::wstring> deleted;
  };
  const Row rows[] = {
      {"16 left by earlier starts, LogCount 5", sixteen, 5, oldest_eleven},
      {"as many as LogCount", {L"p2pbase_20240101000000.log", L"p2pbase_20240102000000.log"}, 2, {}},
      {"one more than LogCount: the oldest by its stamp, in any listing order",
       {L"p2pbase_20240301000000.log", L"p2pbase_20231231235959.log", L"p2pbase_20240101000000.log"}, 2,
       {L"p2pbase_20231231235959.log"}},
      {"LogCount 0 keeps them all", sixteen, 0, {}},
      {"the current file, other bases and other names are kept",
       {L"p2pbase.log", L"other_20200101000000.log", L"p2pbase_2020.log", L"p2pbase_2020010100000x.log",
        L"p2pbase_20200101000000.txt", L"p2pbase_20200101000000.log", L"p2pbase_20210101000000.log"},
       1, {L"p2pbase_20200101000000.log"}},
      {"names in another case", {L"P2PBASE_20200101000000.LOG", L"p2pbase_20210101000000.log"}, 1,
       {L"P2PBASE_20200101000000.LOG"}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(rotated_logs_to_delete(r.names, L"p2pbase", r.log_count), r.deleted);
  }
}
