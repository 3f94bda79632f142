// "ZEDURE.db": the published directories and files in SQLite. One connection
// for the life of the process, shared by the control-channel, loader and
// publish threads (SQLite itself serialises calls on it). No transactions:
// every change is one statement, and every value is a bound parameter. A
// change that fails is logged with SQLite's code and leaves nothing behind.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "server/publish/codec/publish_records.h"

constexpr wchar_t kDatabaseFileName[] = L"ZEDURE.db";
constexpr wchar_t kDirTableName[] = L"tbDirV2";

// Only the directory table and "_" followed by 32 upper-case hex digits may
// be put into statement text.
bool IsValidTableName(const wchar_t* name);
// "_" + the 32 hex digits of a directory id; empty for a zero id, which names no table.
std::wstring DirTableName(const uint8_t dirId[16]);

// Opens "ZEDURE.db" in the program's directory. 1 when open.
int OpenDatabase();
// The file OpenDatabaseFile opens; paths of 260 units or more are refused.
bool SetDatabasePath(const wchar_t* path);
// Closes an open connection first, then opens the stored path with the
// settings below. 1 when open.
int OpenDatabaseFile();
// The busy wait and the journal and sync settings every connection gets.
void ApplyDatabaseSettings();
constexpr int kBusyTimeoutMs = 2000;
void CloseDatabase();
bool IsDatabaseOpen();
// SQLite's (extended) code of the last change that failed; negative when its
// statement did not prepare. Every failed change is also logged with it.
int LastDatabaseError();

// One sqlite3_step of the statement; -1 when the text is null or cannot be prepared.
int ExecSql(const wchar_t* statement);
int IsTableExist(const wchar_t* name);
int CreateDirTable();
int CreateFileTable(const wchar_t* name);

using LoadDirCallback = void (*)(const CPublishDir& dir, void* context);
// Calls back with each stored directory. 1 when the walk ran to its end.
int LoadDirs(LoadDirCallback callback, void* context);
// 1 when the directory's row exists (left unchanged) or was inserted.
int SaveDir(const CPublishDir& dir, const wchar_t* path, int pubAll);
int RemoveDir(const wchar_t* path);
int DropTable(const wchar_t* name);
// Deletes a file's row; 1 also when the directory's table does not exist.
int RemoveFile(const wchar_t* table, const wchar_t* path);
// true when the file's row exists; fills size, times, MaxConn, FID and SID from it.
bool QueryFile(CPublishItem* item);
// Inserts or updates the file's row. 1 only once the row is committed.
int SaveFile(const CPublishItem& item);

// Shares one stored file again; the P2P core's add-share result (P2P_SHARE_*).
using ShareStoredFile = int (*)(const wchar_t* path, uint64_t size, const uint8_t fid[16], void* context);
// Re-shares a directory's stored files that still exist unchanged. 1 when the
// walk ran to its end; 0 when the stop event ended it or a step failed.
int LoadFile(const wchar_t* table, HANDLE stopEvent, ShareStoredFile share, void* context);
