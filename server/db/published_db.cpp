// The published-files database. The statement texts, table and column names
// are those an existing "ZEDURE.db" was made with; they must not change.
#include "server/db/published_db.h"

#include <cstring>
#include <string>
#include <vector>

#include "foundation/log/server_logs.h"
#include "foundation/util/code_pages.h"
#include "foundation/util/file_ops.h"
#include "foundation/text/hex_text.h"
#include "foundation/util/path_ops.h"
#include "foundation/util/wide_text.h"
#include "server/control/p2p_api.h"
#include "sqlite3.h"

namespace {
sqlite3* g_db = nullptr;
std::wstring g_dbPath;
int g_lastError = SQLITE_OK;

const wchar_t kTableTest[] = L"SELECT name FROM sqlite_master WHERE type='table' and name='%s'";
const wchar_t kCreateDirTable[] =
    L"create table %s(\t\t\t\t\t DIRID blob PRIMARY KEY,\t\t\t\t\t FileName vargraphic(260),\t\t\t\t\t PubALL INT4)";
const wchar_t kCreateFileTable[] =
    L"create table %s(\t\t\t\t\t ID blob,\t\t\t\t\t FileName vargraphic(260),\t\t\t\t\t FileSize INT8,"
    L"\t\t\t\t\t LastModTime INT8,\t\t\t\t\t PubTime INT8,\t\t\t\t\t MaxConn INT4,\t\t\t\t\t FID blob,"
    L"\t\t\t\t\t SID blob)";
const wchar_t kReadAll[] = L"SELECT * FROM %s";
const wchar_t kDirLookup[] = L"SELECT DIRID, FileName, PubALL FROM %s WHERE DIRID=:ID";
const wchar_t kDirInsert[] = L"INSERT INTO %s (DIRID, FileName, PubALL) VALUES(:ID,:NAME,:PUBALL)";
const wchar_t kDirDelete[] = L"DELETE FROM %s WHERE DIRID=:ID";
const wchar_t kDrop[] = L"Drop Table %s";
const wchar_t kFileDelete[] = L"DELETE FROM %s WHERE ID=:ID";
const wchar_t kFileQuery[] =
    L"SELECT ID, FileName, FileSize, LastModTime, PubTime, MaxConn,\t\t\t\t\t FID, SID FROM %s WHERE ID=:ID";
const wchar_t kFileLookup[] =
    L"SELECT ID,FileName,FileSize,LastModTime,\t\t\t\t\t  PubTime,MaxConn,FID,SID FROM %s WHERE ID=:ID";
const wchar_t kFileUpdate[] =
    L"UPDATE %s set FileName=:NAME, FileSize=:SIZE,\t\t\t\t\t\t LastModTime=:LMT, PubTime=:PUBT, MaxConn=:MC, "
    L"FID=:FID, SID=:SID\t\t\t\t\t\t where ID=:ID";
const wchar_t kFileInsert[] =
    L"INSERT INTO %s (ID,FileName,FileSize,LastModTime,\t\t\t\t\t\t PubTime,MaxConn,FID,SID) \t\t\t\t\t\t "
    L"VALUES(:ID,:NAME,:SIZE,:LMT,:PUBT,:MC,:FID,:SID)";

// A prepared statement that is always finalised.
class Statement {
 public:
  // Puts the (checked) table name in for %s and prepares; not ok when the name
  // is not one of ours or the text does not prepare.
  Statement(const wchar_t* format, const wchar_t* table) {
    if (g_db == nullptr || table == nullptr || !IsValidTableName(table)) return;
    std::wstring text = format;
    const size_t at = text.find(L"%s");
    if (at != std::wstring::npos) text.replace(at, 2, table);
    const void* tail = nullptr;
    if (sqlite3_prepare16(g_db, text.c_str(), -1, &stmt_, &tail) != SQLITE_OK) {
      sqlite3_finalize(stmt_);
      stmt_ = nullptr;
    }
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool ok() const { return stmt_ != nullptr; }
  sqlite3_stmt* get() const { return stmt_; }
  int Step() { return stmt_ ? sqlite3_step(stmt_) : -1; }
  // One step; on failure the statement is finalised and its own code comes
  // back (the legacy prepare reports most errors from the step only as
  // SQLITE_ERROR and the real code from the finalise).
  int StepOrCode() {
    if (!stmt_) return -1;
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_DONE || rc == SQLITE_ROW) return rc;
    const int code = sqlite3_finalize(stmt_);
    stmt_ = nullptr;
    return code != SQLITE_OK ? code : rc;
  }

  bool BindBlob(const char* name, const uint8_t* data, int n) {
    int i = sqlite3_bind_parameter_index(stmt_, name);
    return i > 0 && sqlite3_bind_blob(stmt_, i, data, n, SQLITE_TRANSIENT) == SQLITE_OK;
  }
  bool BindText(const char* name, const char16_t* text, size_t units) {
    int i = sqlite3_bind_parameter_index(stmt_, name);
    return i > 0 && sqlite3_bind_text16(stmt_, i, text, static_cast<int>(units * 2), SQLITE_TRANSIENT) == SQLITE_OK;
  }
  bool BindInt(const char* name, int v) {
    int i = sqlite3_bind_parameter_index(stmt_, name);
    return i > 0 && sqlite3_bind_int(stmt_, i, v) == SQLITE_OK;
  }
  bool BindInt64(const char* name, int64_t v) {
    int i = sqlite3_bind_parameter_index(stmt_, name);
    return i > 0 && sqlite3_bind_int64(stmt_, i, v) == SQLITE_OK;
  }

  void Column16(int col, uint8_t out[16]) {
    const void* p = sqlite3_column_blob(stmt_, col);
    ReadStoredId(p, sqlite3_column_bytes(stmt_, col), out);
  }
  std::wstring ColumnText(int col) {
    const wchar_t* p = static_cast<const wchar_t*>(sqlite3_column_text16(stmt_, col));
    int bytes = sqlite3_column_bytes16(stmt_, col);
    return p ? std::wstring(p, static_cast<size_t>(bytes) / 2) : std::wstring();
  }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

const char16_t* U16(const wchar_t* p) { return reinterpret_cast<const char16_t*>(p); }

// The end of a statement: SQLITE_DONE is success. Anything else is logged with
// SQLite's own code. SQLite rolls a failed single-statement change back
// itself, but may leave the transaction open after some errors (a full disk
// among them); then it is rolled back here, so that no reader of the shared
// connection ever sees a row that was not stored.
// rc is what StepOrCode gave, after the statement is gone.
bool StepDone(int rc, const char* what, const std::wstring& subject) {
  if (rc == SQLITE_DONE) return true;
  g_lastError = rc;
  WriteLog(&g_MainLog, 3, "%s - SQLite error %d (%s) - %s", what, rc, rc < 0 ? "not prepared" : sqlite3_errstr(rc),
           Utf16ToGbk(subject).c_str());
  if (g_db && !sqlite3_get_autocommit(g_db)) sqlite3_exec(g_db, "ROLLBACK", nullptr, nullptr, nullptr);
  return false;
}

void IdOfPath(const std::wstring& path, uint8_t id[16]) { MakePathRecordId(path, id); }

bool IsHexUpper(wchar_t c) { return (c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'F'); }

std::wstring TableOf(const CPublishItem& item) { return DirTableName(item.dirId); }
}  // namespace

bool IsValidTableName(const wchar_t* name) {
  if (name == nullptr) return false;
  if (std::wcscmp(name, kDirTableName) == 0) return true;
  if (name[0] != L'_') return false;
  for (int i = 1; i <= 32; ++i)
    if (!IsHexUpper(name[i])) return false;
  return name[33] == 0;
}

std::wstring DirTableName(const uint8_t dirId[16]) {
  const std::string hex = BytesToHex(dirId);  // empty for a zero id
  return hex.empty() ? std::wstring() : L"_" + std::wstring(hex.begin(), hex.end());
}

bool SetDatabasePath(const wchar_t* path) {
  if (path == nullptr || path[0] == 0 || std::wcslen(path) >= MAX_PATH) return false;
  g_dbPath = path;
  return true;
}

int OpenDatabase() {
  if (!SetDatabasePath(ModulePathOf(kDatabaseFileName).c_str())) return 0;
  return OpenDatabaseFile();
}

int OpenDatabaseFile() {
  CloseDatabase();
  if (g_dbPath.empty()) return 0;
  if (sqlite3_open16(g_dbPath.c_str(), &g_db) != SQLITE_OK) {
    sqlite3_close(g_db);
    g_db = nullptr;
    return 0;
  }
  sqlite3_extended_result_codes(g_db, 1);
  ApplyDatabaseSettings();
  return 1;
}

void ApplyDatabaseSettings() {
  if (g_db == nullptr) return;
  // An outside reader, or a checkpoint, holds the file only briefly: wait for
  // it rather than fail the change. Kept under the control channel's 3000 ms
  // step deadline, as a command may wait behind a change on the shared connection.
  sqlite3_busy_timeout(g_db, kBusyTimeoutMs);
  // Write-ahead log: a reader never blocks a change nor a change a reader, and
  // a commit is one append, so a kill at any point leaves the last commit
  // whole. NORMAL syncs at each checkpoint instead of at each commit: a power
  // cut may lose the last rows (the start-up scan of publish-all directories
  // queues their files again) but cannot corrupt the file. When the mode
  // cannot be changed (a full disk at start) the rollback journal stays, with
  // a sync at every commit.
  std::string mode;
  sqlite3_exec(
      g_db, "PRAGMA journal_mode=WAL",
      [](void* out, int n, char** values, char**) {
        if (n > 0 && values[0]) *static_cast<std::string*>(out) = values[0];
        return 0;
      },
      &mode, nullptr);
  sqlite3_exec(g_db, mode == "wal" ? "PRAGMA synchronous=NORMAL" : "PRAGMA synchronous=FULL", nullptr, nullptr,
               nullptr);
}

void CloseDatabase() {
  if (g_db) sqlite3_close(g_db);
  g_db = nullptr;
}

bool IsDatabaseOpen() { return g_db != nullptr; }

int LastDatabaseError() { return g_lastError; }

int ExecSql(const wchar_t* statement) {
  if (g_db == nullptr || statement == nullptr) return -1;
  sqlite3_stmt* stmt = nullptr;
  const void* tail = nullptr;
  if (sqlite3_prepare16(g_db, statement, -1, &stmt, &tail) != SQLITE_OK || stmt == nullptr) {
    sqlite3_finalize(stmt);
    return -1;
  }
  int rc = sqlite3_step(stmt);
  sqlite3_finalize(stmt);
  return rc;
}

int IsTableExist(const wchar_t* name) {
  if (name == nullptr || name[0] == 0) return 0;
  Statement s(kTableTest, name);
  return s.ok() && s.Step() == SQLITE_ROW ? 1 : 0;
}

// A failed prepare counts as failure, not only a step that reports an error.
int CreateDirTable() {
  int rc;
  {
    Statement s(kCreateDirTable, kDirTableName);
    rc = s.StepOrCode();
  }
  return StepDone(rc, "CreateDirTable", kDirTableName) ? 1 : 0;
}

int CreateFileTable(const wchar_t* name) {
  int rc;
  {
    Statement s(kCreateFileTable, name);
    rc = s.StepOrCode();
  }
  return StepDone(rc, "CreateFileTable", name ? name : L"") ? 1 : 0;
}

int LoadDirs(LoadDirCallback callback, void* context) {
  if (g_db == nullptr || !IsTableExist(kDirTableName)) return 0;
  Statement s(kReadAll, kDirTableName);
  if (!s.ok()) return 0;
  int rc;
  while ((rc = s.StepOrCode()) == SQLITE_ROW) {
    CPublishDir dir;
    std::memset(&dir, 0, sizeof dir);
    s.Column16(0, dir.dirId);
    const std::wstring path = s.ColumnText(1);
    if (!SetRecordPath(dir.path, U16(path.c_str()), path.size())) {
      WriteLog(&g_MainLog, 3, "LoadDirs - path too long - %s", Utf16ToGbk(path).c_str());
      continue;
    }
    dir.pubAll = static_cast<uint32_t>(sqlite3_column_int(s.get(), 2));
    if (callback) callback(dir, context);
  }
  return StepDone(rc, "LoadDirs", kDirTableName) ? 1 : 0;
}

int SaveDir(const CPublishDir& dir, const wchar_t* path, int pubAll) {
  if (path == nullptr || path[0] == 0 || g_db == nullptr) return 0;
  const size_t units = std::wcslen(path);
  if (units >= kRecordPathUnits || IsZeroId(dir.dirId)) return 0;
  if (!IsTableExist(kDirTableName) && !CreateDirTable()) return 0;
  {
    Statement look(kDirLookup, kDirTableName);
    if (!look.ok() || !look.BindBlob(":ID", dir.dirId, 16)) return 0;
    const int rc = look.StepOrCode();
    if (rc == SQLITE_ROW) return 1;  // published before: the first row and its flag stay
    if (rc != SQLITE_DONE) return StepDone(rc, "SaveDir", path) ? 1 : 0;
  }
  int rc = -1;
  {
    Statement ins(kDirInsert, kDirTableName);
    if (ins.ok() && ins.BindBlob(":ID", dir.dirId, 16) && ins.BindText(":NAME", U16(path), units) &&
        ins.BindInt(":PUBALL", pubAll))
      rc = ins.StepOrCode();
  }
  return StepDone(rc, "SaveDir", path) ? 1 : 0;
}

int RemoveDir(const wchar_t* path) {
  if (path == nullptr || g_db == nullptr || !IsTableExist(kDirTableName)) return 0;
  uint8_t id[16];
  IdOfPath(path, id);
  int rc = -1;
  {
    Statement s(kDirDelete, kDirTableName);
    if (s.ok() && s.BindBlob(":ID", id, 16)) rc = s.StepOrCode();
  }
  return StepDone(rc, "RemoveDir", path) ? 1 : 0;
}

int DropTable(const wchar_t* name) {
  if (!IsValidTableName(name) || !IsTableExist(name)) return 0;
  int rc;
  {
    Statement s(kDrop, name);
    rc = s.StepOrCode();
  }
  return StepDone(rc, "DropTable", name) ? 1 : 0;
}

int RemoveFile(const wchar_t* table, const wchar_t* path) {
  if (path == nullptr || g_db == nullptr || !IsValidTableName(table)) return 0;
  if (!IsTableExist(table)) return 1;
  uint8_t id[16];
  IdOfPath(path, id);
  int rc = -1;
  {
    Statement s(kFileDelete, table);
    if (s.ok() && s.BindBlob(":ID", id, 16)) rc = s.StepOrCode();
  }
  return StepDone(rc, "RemoveFile", path) ? 1 : 0;
}

bool QueryFile(CPublishItem* item) {
  if (item == nullptr || g_db == nullptr) return false;
  const std::wstring table = TableOf(*item);
  if (table.empty() || !IsTableExist(table.c_str())) return false;
  Statement s(kFileQuery, table.c_str());
  if (!s.ok() || !s.BindBlob(":ID", item->id, 16) || s.Step() != SQLITE_ROW) return false;
  item->fileSize = sqlite3_column_int64(s.get(), 2);
  item->lastModTime = sqlite3_column_int64(s.get(), 3);
  item->pubTime = sqlite3_column_int64(s.get(), 4);
  item->maxConn = sqlite3_column_int(s.get(), 5);
  s.Column16(6, item->fid);
  s.Column16(7, item->sid);
  return true;
}

int SaveFile(const CPublishItem& item) {
  if (g_db == nullptr) return 0;
  const std::wstring table = TableOf(item);
  if (table.empty()) return 0;
  const size_t units = RecordPathLength(item.fileName);
  const std::wstring path(reinterpret_cast<const wchar_t*>(item.fileName), units);
  if (!IsTableExist(table.c_str()) && !CreateFileTable(table.c_str())) return 0;
  bool exists;
  {
    Statement look(kFileLookup, table.c_str());
    if (!look.ok() || !look.BindBlob(":ID", item.id, 16)) return StepDone(-1, "SaveFile", path) ? 1 : 0;
    const int rc = look.StepOrCode();
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) return StepDone(rc, "SaveFile", path) ? 1 : 0;
    exists = rc == SQLITE_ROW;
  }
  int rc = -1;
  {
    Statement s(exists ? kFileUpdate : kFileInsert, table.c_str());
    if (s.ok() && s.BindBlob(":ID", item.id, 16) && s.BindText(":NAME", item.fileName, units) &&
        s.BindInt64(":SIZE", item.fileSize) && s.BindInt64(":LMT", item.lastModTime) &&
        s.BindInt64(":PUBT", item.pubTime) && s.BindInt(":MC", item.maxConn) && s.BindBlob(":FID", item.fid, 16) &&
        s.BindBlob(":SID", item.sid, 16))
      rc = s.StepOrCode();
  }
  if (!StepDone(rc, "SaveFile", path)) return 0;
  // The row id of an insert; an update adds no row and says so.
  if (exists) WriteLog(&g_MainLog, 1, "SaveFile - Updated - %s", Utf16ToGbk(path).c_str());
  else WriteLog(&g_MainLog, 1, "SaveFile - LastRow %lld", static_cast<long long>(sqlite3_last_insert_rowid(g_db)));
  return 1;
}

int LoadFile(const wchar_t* table, HANDLE stopEvent, ShareStoredFile share, void* context) {
  if (g_db == nullptr || !IsValidTableName(table) || !IsTableExist(table)) return 0;
  Statement s(kReadAll, table);
  if (!s.ok()) return 0;
  auto stopped = [stopEvent] {
    return stopEvent != nullptr && stopEvent != INVALID_HANDLE_VALUE &&
           WaitForSingleObject(stopEvent, 0) == WAIT_OBJECT_0;
  };
  int rc = SQLITE_DONE;
  while (!stopped() && (rc = s.StepOrCode()) == SQLITE_ROW) {
    const std::wstring path = s.ColumnText(1);
    uint64_t fileSize = 0;
    FILETIME written{};
    if (path.empty() || !GetFileInfo(path.c_str(), &fileSize, &written)) continue;
    const int64_t size = static_cast<int64_t>(fileSize);
    const int64_t lmt = static_cast<int64_t>(FileTimeValue(written));
    if (sqlite3_column_int64(s.get(), 2) != size || sqlite3_column_int64(s.get(), 3) != lmt) {
      WriteLog(&g_MainLog, 1, "LoadFile - file changed - %s", Utf16ToGbk(path).c_str());
      continue;
    }
    uint8_t fid[16];
    s.Column16(6, fid);
    const int added = share ? share(path.c_str(), static_cast<uint64_t>(size), fid, context) : -1;
    if (IsShared(added)) WriteLog(&g_MainLog, 1, "LoadFile - file add - %s", Utf16ToGbk(path).c_str());
  }
  if (stopped()) return 0;
  return StepDone(rc, "LoadFile", table) ? 1 : 0;
}
