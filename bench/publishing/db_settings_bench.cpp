// Cost of the database's journal and sync settings: file rows stored per
// second by SaveFile, as the publish task stores them (one statement, one
// commit each), under the settings OrchardSvc opens the database with and
// under the others considered, all in the same run on the same disk.
//   db_settings_bench.exe FOLDER [ROWS]
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "foundation/util/wide_text.h"
#include "server/db/published_db.h"
#include "server/publish/codec/publish_records.h"

namespace {
struct Setting {
  const char* name;
  const wchar_t* pragmas[2];  // applied after the open; none: as OrchardSvc opens it
};

const Setting kSettings[] = {
    {"write-ahead log, NORMAL sync (OrchardSvc)", {nullptr, nullptr}},
    {"write-ahead log, FULL sync", {L"PRAGMA synchronous=FULL", nullptr}},
    {"rollback journal, FULL sync (SQLite's default)", {L"PRAGMA journal_mode=DELETE", L"PRAGMA synchronous=FULL"}},
    {"rollback journal, no sync (not durable)", {L"PRAGMA journal_mode=DELETE", L"PRAGMA synchronous=OFF"}},
};

void Remove(const std::wstring& db) {
  for (const wchar_t* suffix : {L"", L"-wal", L"-shm", L"-journal"}) DeleteFileW((db + suffix).c_str());
}

// Rows per second, or a negative value when a save failed.
double Run(const std::wstring& folder, const Setting& s, int rows) {
  const std::wstring db = folder + L"\\ZEDURE.db";
  Remove(db);
  if (!SetDatabasePath(db.c_str()) || !OpenDatabaseFile()) return -1;
  for (const wchar_t* p : s.pragmas)
    if (p) ExecSql(p);
  const std::wstring dirPath = folder + L"\\media";
  CPublishDir dir{};
  MakePathRecordId(dirPath, dir.dirId);
  SetRecordPath(dir.path, reinterpret_cast<const char16_t*>(dirPath.c_str()), dirPath.size());
  dir.pubAll = 1;
  if (!SaveDir(dir, dirPath.c_str(), 1)) return -1;
  LARGE_INTEGER freq, t0, t1;
  QueryPerformanceFrequency(&freq);
  QueryPerformanceCounter(&t0);
  for (int i = 0; i < rows; ++i) {
    const std::wstring path = dirPath + L"\\clip" + std::to_wstring(i) + L".avi";
    CPublishItem item{};
    std::memcpy(item.dirId, dir.dirId, 16);
    SetRecordPath(item.fileName, reinterpret_cast<const char16_t*>(path.c_str()), path.size());
    MakePathRecordId(path, item.id);
    item.fileSize = 8192 + i;
    item.lastModTime = 133000000000000000LL + i;
    item.pubTime = item.lastModTime;
    std::memset(item.fid, i & 0xFF, 16);
    std::memset(item.sid, (i >> 8) & 0xFF, 16);
    item.state = kPublishDone;
    if (!SaveFile(item)) return -1;
  }
  QueryPerformanceCounter(&t1);
  CloseDatabase();
  Remove(db);
  return rows / (double(t1.QuadPart - t0.QuadPart) / double(freq.QuadPart));
}
}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: db_settings_bench.exe FOLDER [ROWS]\n");
    return 2;
  }
  wchar_t folder[MAX_PATH];
  MultiByteToWideChar(CP_ACP, 0, argv[1], -1, folder, MAX_PATH);
  const int rows = argc > 2 ? std::atoi(argv[2]) : 2000;
  for (const Setting& s : kSettings) {
    const double perSecond = Run(folder, s, rows);
    if (perSecond < 0) {
      std::printf("%-48s  failed\n", s.name);
      return 1;
    }
    std::printf("%-48s  %6d rows  %8.0f rows/s  %6.2f ms/row\n", s.name, rows, perSecond, 1000.0 / perSecond);
  }
  return 0;
}
