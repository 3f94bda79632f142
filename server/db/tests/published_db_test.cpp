// The published-files database on a temporary file: statement texts as stored,
// table names checked, rows saved once or updated in place, and stored files
// re-shared only while unchanged.
#include "server/db/published_db.h"

#include <windows.h>
#include <process.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "foundation/log/server_logs.h"
#include "foundation/util/file_ops.h"
#include "foundation/util/wide_text.h"
#include "sqlite3.h"

namespace {
const char16_t* U16(const std::wstring& s) { return reinterpret_cast<const char16_t*>(s.c_str()); }

CPublishDir DirRecord(const std::wstring& path, uint32_t pubAll) {
  CPublishDir d{};
  MakePathRecordId(path, d.dirId);
  SetRecordPath(d.path, U16(path), path.size());
  d.pubAll = pubAll;
  return d;
}

class PublishedDbTest : public testing::Test {
 protected:
  void SetUp() override {
    wchar_t tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, tmp);
    dir_ = std::wstring(tmp) + L"orchard_db_" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(dir_.c_str(), nullptr);
    dbPath_ = dir_ + L"\\" + kDatabaseFileName;
    DeleteFileW(dbPath_.c_str());
    ASSERT_TRUE(SetDatabasePath(dbPath_.c_str()));
    ASSERT_EQ(OpenDatabaseFile(), 1);
  }
  void TearDown() override {
    CloseDatabase();
    g_MainLog.Close();
    DeleteFileW((dir_ + L"\\main.log").c_str());
    for (const auto& f : files_) DeleteFileW(f.c_str());
    DeleteFileW(dbPath_.c_str());
    RemoveDirectoryW(dir_.c_str());
  }
  std::wstring MakeFile(const wchar_t* name, size_t size) {
    std::wstring p = dir_ + L"\\" + name;
    HANDLE h = CreateFileW(p.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    std::vector<char> data(size, 'v');
    DWORD w = 0;
    if (size) WriteFile(h, data.data(), static_cast<DWORD>(size), &w, nullptr);
    CloseHandle(h);
    files_.push_back(p);
    return p;
  }
  // A file record as a scan builds it, for a file on disk.
  CPublishItem FileRecord(const CPublishDir& dir, const std::wstring& path) {
    CPublishItem it{};
    std::memcpy(it.dirId, dir.dirId, 16);
    SetRecordPath(it.fileName, U16(path), path.size());
    MakePathRecordId(path, it.id);
    WIN32_FILE_ATTRIBUTE_DATA fa;
    if (GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &fa)) {
      it.fileSize = (int64_t{fa.nFileSizeHigh} << 32) | fa.nFileSizeLow;
      it.lastModTime = (int64_t{fa.ftLastWriteTime.dwHighDateTime} << 32) | fa.ftLastWriteTime.dwLowDateTime;
    }
    it.state = kPublishNone;
    return it;
  }
  // Reads one value straight from the file with a connection of its own.
  std::string Sql(const char* query) {
    sqlite3* db = nullptr;
    std::string narrow(dbPath_.begin(), dbPath_.end());
    EXPECT_EQ(sqlite3_open(narrow.c_str(), &db), SQLITE_OK);
    sqlite3_stmt* st = nullptr;
    std::string out;
    if (sqlite3_prepare_v2(db, query, -1, &st, nullptr) == SQLITE_OK) {
      while (sqlite3_step(st) == SQLITE_ROW) {
        if (!out.empty()) out += "|";
        const unsigned char* t = sqlite3_column_text(st, 0);
        out += t ? reinterpret_cast<const char*>(t) : "NULL";
      }
    } else {
      out = "ERROR";
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    return out;
  }

  std::wstring dir_, dbPath_;
  std::vector<std::wstring> files_;
};

struct Loaded {
  std::vector<CPublishDir> dirs;
  static void Add(const CPublishDir& d, void* ctx) { static_cast<Loaded*>(ctx)->dirs.push_back(d); }
};

struct Shared {
  std::vector<std::wstring> paths;
  static int Add(const wchar_t* path, uint64_t, const uint8_t*, void* ctx) {
    static_cast<Shared*>(ctx)->paths.push_back(path);
    return 0;
  }
};
}  // namespace

TEST(PublishedDbNames, OnlyOurTableNamesAreAccepted) {
  struct Row { const char* name; const wchar_t* table; bool ok; };
  static const Row rows[] = {
      {"directory table", L"tbDirV2", true},
      {"file table", L"_0123456789ABCDEF0123456789ABCDEF", true},
      {"lower-case digits", L"_0123456789abcdef0123456789ABCDEF", false},
      {"31 digits", L"_0123456789ABCDEF0123456789ABCDE", false},
      {"33 digits", L"_0123456789ABCDEF0123456789ABCDEF0", false},
      {"zero id's name", L"_", false},
      {"no underscore", L"0123456789ABCDEF0123456789ABCDEF0", false},
      {"quote", L"tbDirV2' OR '1'='1", false},
      {"statement", L"tbDirV2; DROP TABLE tbDirV2", false},
      {"empty", L"", false},
      {"null", nullptr, false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(IsValidTableName(r.table), r.ok);
  }
  const uint8_t zero[16] = {};
  EXPECT_EQ(DirTableName(zero), L"");
  const uint8_t id[16] = {0x0A, 0xBC, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF};
  EXPECT_EQ(DirTableName(id), L"_0ABC00000000000000000000000000FF");
}

TEST_F(PublishedDbTest, TablesAreCreatedWithTheirExactStatements) {
  const std::wstring vdir = L"C:\\Video";
  CPublishDir d = DirRecord(vdir, 0);
  ASSERT_EQ(SaveDir(d, vdir.c_str(), 0), 1);
  CPublishItem it = FileRecord(d, MakeFile(L"a.mp4", 10));
  ASSERT_EQ(SaveFile(it), 1);
  EXPECT_EQ(Sql("SELECT sql FROM sqlite_master WHERE name='tbDirV2'"),
            "CREATE TABLE tbDirV2(\t\t\t\t\t DIRID blob PRIMARY KEY,\t\t\t\t\t FileName vargraphic(260),"
            "\t\t\t\t\t PubALL INT4)");
  const std::wstring table = DirTableName(d.dirId);
  const std::string q = "SELECT sql FROM sqlite_master WHERE name='" + std::string(table.begin(), table.end()) + "'";
  EXPECT_EQ(Sql(q.c_str()),
            "CREATE TABLE " + std::string(table.begin(), table.end()) +
                "(\t\t\t\t\t ID blob,\t\t\t\t\t FileName vargraphic(260),\t\t\t\t\t FileSize INT8,\t\t\t\t\t "
                "LastModTime INT8,\t\t\t\t\t PubTime INT8,\t\t\t\t\t MaxConn INT4,\t\t\t\t\t FID blob,\t\t\t\t\t SID blob)");
}

TEST_F(PublishedDbTest, SaveDirKeepsTheFirstRow) {
  const std::wstring p = L"C:\\Media\\it's here";
  ASSERT_EQ(SaveDir(DirRecord(p, 1), p.c_str(), 1), 1);
  EXPECT_EQ(SaveDir(DirRecord(p, 0), p.c_str(), 0), 1);
  EXPECT_EQ(Sql("SELECT FileName || ',' || PubALL FROM tbDirV2"), "C:\\Media\\it's here,1");
  Loaded loaded;
  ASSERT_EQ(LoadDirs(&Loaded::Add, &loaded), 1);
  ASSERT_EQ(loaded.dirs.size(), 1u);
  const CPublishDir first = DirRecord(p, 1);
  EXPECT_EQ(std::memcmp(&loaded.dirs[0], &first, sizeof(CPublishDir)), 0);
}

TEST_F(PublishedDbTest, SaveDirRefusals) {
  const std::wstring ok(259, L'd');
  const std::wstring tooLong(260, L'd');
  CPublishDir zero = DirRecord(L"C:\\x", 0);
  std::memset(zero.dirId, 0, 16);
  struct Row { const char* name; CPublishDir dir; const wchar_t* path; int result; };
  const Row rows[] = {
      {"259 units", DirRecord(ok, 0), ok.c_str(), 1},
      {"260 units", DirRecord(ok, 0), tooLong.c_str(), 0},
      {"empty path", DirRecord(L"", 0), L"", 0},
      {"null path", DirRecord(L"", 0), nullptr, 0},
      {"zero directory id", zero, L"C:\\x", 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(SaveDir(r.dir, r.path, 0), r.result);
  }
  EXPECT_EQ(Sql("SELECT count(*) FROM tbDirV2"), "1");
  CloseDatabase();
  EXPECT_EQ(SaveDir(DirRecord(L"C:\\y", 0), L"C:\\y", 0), 0);
}

TEST_F(PublishedDbTest, RemoveDirAndDrop) {
  EXPECT_EQ(RemoveDir(L"C:\\a"), 0);  // no table yet
  for (const wchar_t* p : {L"C:\\a", L"C:\\b"}) ASSERT_EQ(SaveDir(DirRecord(p, 0), p, 0), 1);
  EXPECT_EQ(RemoveDir(L"C:\\a"), 1);
  EXPECT_EQ(Sql("SELECT FileName FROM tbDirV2"), "C:\\b");
  CPublishDir b = DirRecord(L"C:\\b", 0);
  ASSERT_EQ(SaveFile(FileRecord(b, MakeFile(L"b.mkv", 3))), 1);
  const std::wstring table = DirTableName(b.dirId);
  EXPECT_EQ(IsTableExist(table.c_str()), 1);
  EXPECT_EQ(DropTable(table.c_str()), 1);
  EXPECT_EQ(IsTableExist(table.c_str()), 0);
  EXPECT_EQ(DropTable(table.c_str()), 0);
  EXPECT_EQ(DropTable(L"tbDirV2; --"), 0);
  EXPECT_EQ(IsTableExist(L"tbDirV2' OR '1'='1"), 0);
  EXPECT_EQ(IsTableExist(L"tbDirV2"), 1);
}

TEST_F(PublishedDbTest, SaveFileInsertsThenUpdatesInPlace) {
  CPublishDir d = DirRecord(L"C:\\v", 0);
  const std::wstring path = MakeFile(L"film.rmvb", 100);
  CPublishItem it = FileRecord(d, path);
  EXPECT_FALSE(QueryFile(&it));  // no table yet
  it.pubTime = 1234;
  it.maxConn = 7;
  std::memset(it.fid, 0xF1, 16);
  std::memset(it.sid, 0x51, 16);
  ASSERT_EQ(SaveFile(it), 1);
  it.fileSize = 999;
  it.pubTime = 5678;
  ASSERT_EQ(SaveFile(it), 1);
  const std::wstring table = DirTableName(d.dirId);
  const std::string t(table.begin(), table.end());
  EXPECT_EQ(Sql(("SELECT count(*) FROM " + t).c_str()), "1");
  EXPECT_EQ(Sql(("SELECT FileSize || ',' || PubTime || ',' || MaxConn || ',' || hex(FID) FROM " + t).c_str()),
            "999,5678,7,F1F1F1F1F1F1F1F1F1F1F1F1F1F1F1F1");
  CPublishItem q = FileRecord(d, path);
  ASSERT_TRUE(QueryFile(&q));
  EXPECT_EQ(q.fileSize, 999);
  EXPECT_EQ(q.pubTime, 5678);
  EXPECT_EQ(q.maxConn, 7);
  EXPECT_EQ(q.lastModTime, it.lastModTime);
  EXPECT_EQ(0, std::memcmp(q.fid, it.fid, 16));
  EXPECT_EQ(0, std::memcmp(q.sid, it.sid, 16));
  CPublishItem other = FileRecord(d, dir_ + L"\\none.mp4");
  EXPECT_FALSE(QueryFile(&other));
  // A record without its directory id names no table and is refused.
  CPublishItem orphan = it;
  std::memset(orphan.dirId, 0, 16);
  EXPECT_EQ(SaveFile(orphan), 0);
  EXPECT_FALSE(QueryFile(&orphan));
}

TEST_F(PublishedDbTest, RemoveFile) {
  CPublishDir d = DirRecord(L"C:\\r", 0);
  const std::wstring table = DirTableName(d.dirId);
  EXPECT_EQ(RemoveFile(table.c_str(), L"C:\\r\\x.mp4"), 1);  // table missing counts as done
  const std::wstring path = MakeFile(L"x.mp4", 5);
  CPublishItem it = FileRecord(d, path);
  ASSERT_EQ(SaveFile(it), 1);
  EXPECT_EQ(RemoveFile(table.c_str(), path.c_str()), 1);
  EXPECT_FALSE(QueryFile(&it));
  EXPECT_EQ(RemoveFile(L"_", path.c_str()), 0);
}

TEST_F(PublishedDbTest, LoadFileSharesOnlyUnchangedFiles) {
  CPublishDir d = DirRecord(dir_, 0);
  const std::wstring same = MakeFile(L"same.mp4", 50);
  const std::wstring grown = MakeFile(L"grown.mp4", 50);
  const std::wstring touched = MakeFile(L"touched.mp4", 50);
  const std::wstring gone = MakeFile(L"gone.mp4", 50);
  for (const auto& p : {same, grown, touched, gone}) ASSERT_EQ(SaveFile(FileRecord(d, p)), 1);
  MakeFile(L"grown.mp4", 60);
  {
    HANDLE h = CreateFileW(touched.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    FILETIME ft = {12345, 30000000};
    SetFileTime(h, nullptr, nullptr, &ft);
    CloseHandle(h);
  }
  DeleteFileW(gone.c_str());
  const std::wstring table = DirTableName(d.dirId);
  Shared shared;
  EXPECT_EQ(LoadFile(table.c_str(), nullptr, &Shared::Add, &shared), 1);
  EXPECT_EQ(shared.paths, std::vector<std::wstring>{same});
  // The changed file's row keeps its old values.
  CPublishItem g = FileRecord(d, grown);
  ASSERT_TRUE(QueryFile(&g));
  EXPECT_EQ(g.fileSize, 50);

  HANDLE stop = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  Shared none;
  EXPECT_EQ(LoadFile(table.c_str(), stop, &Shared::Add, &none), 0);
  EXPECT_TRUE(none.paths.empty());
  CloseHandle(stop);
  EXPECT_EQ(LoadFile(L"_00000000000000000000000000000001", nullptr, &Shared::Add, &none), 0);
}

TEST_F(PublishedDbTest, ExecSqlAndLoadDirsWithoutTable) {
  EXPECT_EQ(ExecSql(nullptr), -1);
  EXPECT_EQ(ExecSql(L"this is not sql"), -1);
  EXPECT_EQ(ExecSql(L"SELECT 1"), SQLITE_ROW);
  Loaded loaded;
  EXPECT_EQ(LoadDirs(&Loaded::Add, &loaded), 0);
  EXPECT_EQ(CreateFileTable(L"bad name"), 0);
}

namespace {
// Another program's connection that holds the database for a while: a read
// transaction, or the write lock.
struct Holder {
  std::string path;
  bool write = false;
  DWORD holdMs = 0;
  HANDLE held = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE thread = nullptr;

  static unsigned __stdcall Run(void* p) {
    Holder* h = static_cast<Holder*>(p);
    sqlite3* db = nullptr;
    sqlite3_open(h->path.c_str(), &db);
    sqlite3_exec(db, h->write ? "BEGIN IMMEDIATE" : "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "SELECT count(*) FROM tbDirV2", -1, &st, nullptr);
    sqlite3_step(st);  // the read transaction starts here
    SetEvent(h->held);
    Sleep(h->holdMs);
    sqlite3_finalize(st);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    return 0;
  }
  void Start() {
    thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &Run, this, 0, nullptr));
    WaitForSingleObject(held, 10000);
  }
  ~Holder() {
    if (thread) {
      WaitForSingleObject(thread, 30000);
      CloseHandle(thread);
    }
    CloseHandle(held);
  }
};

}  // namespace

TEST_F(PublishedDbTest, ChangesWaitForOtherConnectionsAndAFailedOneIsNeverSeen) {
  const std::wstring logPath = dir_ + L"\\main.log";
  g_MainLog.Open(logPath.c_str(), 1, false);
  CPublishDir d = DirRecord(dir_, 1);
  ASSERT_EQ(SaveDir(d, dir_.c_str(), 1), 1);
  ASSERT_EQ(SaveFile(FileRecord(d, MakeFile(L"first.avi", 10))), 1);  // the file table exists
  struct Row {
    const char* name;
    const wchar_t* journal;
    bool write;
    DWORD holdMs;
    bool saved;
  } rows[] = {
      {"write-ahead log, reader for 1.5 s", L"PRAGMA journal_mode=WAL", false, 1500, true},
      {"write-ahead log, writer for 1 s", L"PRAGMA journal_mode=WAL", true, 1000, true},
      {"write-ahead log, writer longer than the wait", L"PRAGMA journal_mode=WAL", true, 4000, false},
      {"rollback journal, reader for 1.5 s", L"PRAGMA journal_mode=DELETE", false, 1500, true},
      // The commit is refused while the reader stays: the insert must not
      // linger in a transaction left open on the shared connection.
      {"rollback journal, reader longer than the wait", L"PRAGMA journal_mode=DELETE", false, 4000, false},
      {"rollback journal, writer longer than the wait", L"PRAGMA journal_mode=DELETE", true, 4000, false},
  };
  int n = 0;
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    ASSERT_EQ(ExecSql(r.journal), SQLITE_ROW);
    CPublishItem it = FileRecord(d, MakeFile((L"f" + std::to_wstring(n++) + L".avi").c_str(), 20));
    {
      Holder holder;
      holder.path = std::string(dbPath_.begin(), dbPath_.end());
      holder.write = r.write;
      holder.holdMs = r.holdMs;
      holder.Start();
      const DWORD start = GetTickCount();
      EXPECT_EQ(SaveFile(it), r.saved ? 1 : 0);
      CPublishItem seen = it;
      EXPECT_EQ(QueryFile(&seen), r.saved);
      if (!r.saved) {
        EXPECT_GE(GetTickCount() - start, DWORD(kBusyTimeoutMs) - 100);
        EXPECT_EQ(LastDatabaseError() & 0xFF, SQLITE_BUSY);
      }
    }
    CPublishItem seen = it;
    EXPECT_EQ(QueryFile(&seen), r.saved) << "the failed row came back";
    if (!r.saved) {
      ASSERT_EQ(SaveFile(it), 1);  // the next attempt stores it
      EXPECT_TRUE(QueryFile(&seen));
    }
  }
  g_MainLog.Close();
  const std::string log = ReadWholeFile(logPath.c_str());
  EXPECT_NE(log.find("SaveFile - SQLite error 5 (database is locked) - "), std::string::npos) << log;
  EXPECT_EQ(Sql("PRAGMA integrity_check"), "ok");
}

TEST_F(PublishedDbTest, AFullDatabaseRefusesTheChangeAndKeepsWhatIsStored) {
  const std::wstring logPath = dir_ + L"\\main.log";
  g_MainLog.Open(logPath.c_str(), 1, false);
  CPublishDir d = DirRecord(dir_, 1);
  ASSERT_EQ(SaveDir(d, dir_.c_str(), 1), 1);
  std::vector<CPublishItem> stored;
  for (int i = 0; i < 3; ++i) {
    stored.push_back(FileRecord(d, MakeFile((L"kept" + std::to_wstring(i) + L".avi").c_str(), 10 + i)));
    ASSERT_EQ(SaveFile(stored.back()), 1);
  }
  // No page more: the file may not grow, as on a full disk.
  ASSERT_EQ(ExecSql(L"PRAGMA max_page_count=1"), SQLITE_ROW);
  CPublishDir other = DirRecord(dir_ + L"\\other", 1);
  int inserts = 3;
  struct Row {
    const char* name;
    CPublishItem item;
  } rows[] = {
      {"a file of a directory without its table", FileRecord(other, MakeFile(L"new-table.avi", 5))},
      {"files of a directory whose table is full", FileRecord(d, MakeFile(L"full.avi", 5))},
  };
  for (Row& r : rows) {
    SCOPED_TRACE(r.name);
    // The table's page takes some rows before it is full.
    int saved = 0;
    for (int i = 0; i < 200 && SaveFile(r.item); ++i, ++saved) {
      const std::wstring p = dir_ + L"\\more" + std::to_wstring(i) + L"-" + std::to_wstring(saved) + L".avi";
      SetRecordPath(r.item.fileName, U16(p), p.size());
      MakePathRecordId(p, r.item.id);
    }
    ASSERT_LT(saved, 200);
    inserts += saved;
    EXPECT_EQ(LastDatabaseError() & 0xFF, SQLITE_FULL);
    CPublishItem seen = r.item;
    EXPECT_FALSE(QueryFile(&seen));
  }
  for (CPublishItem it : stored) EXPECT_TRUE(QueryFile(&it));
  ASSERT_EQ(ExecSql(L"PRAGMA max_page_count=1000000"), SQLITE_ROW);
  EXPECT_EQ(SaveFile(rows[1].item), 1);  // room again: stored
  ++inserts;
  g_MainLog.Close();
  const std::string log = ReadWholeFile(logPath.c_str());
  EXPECT_NE(log.find("SaveFile - SQLite error 13 (database or disk is full) - "), std::string::npos) << log;
  // A row id is logged for each insert that was stored, and for nothing else.
  size_t lastRows = 0;
  for (size_t at = log.find("SaveFile - LastRow"); at != std::string::npos; at = log.find("SaveFile - LastRow", at + 1))
    ++lastRows;
  EXPECT_EQ(lastRows, size_t(inserts));
  EXPECT_EQ(Sql("PRAGMA integrity_check"), "ok");
}
