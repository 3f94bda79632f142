// Test aid: another program's connection that holds "ZEDURE.db" for a while,
// through SQLite's own locks (which a native reader outside Wine cannot take).
// hold_database.exe <database path> <milliseconds> [write|read]
// "write" holds the write lock (BEGIN IMMEDIATE), "read" a read transaction.
// Prints "held" once it holds it; exit 0 after releasing, 1 when it could not.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sqlite3.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: hold_database.exe DATABASE MILLISECONDS [write|read]\n");
    return 2;
  }
  const bool write = argc < 4 || std::strcmp(argv[3], "read") != 0;
  sqlite3* db = nullptr;
  if (sqlite3_open(argv[1], &db) != SQLITE_OK) return 1;
  sqlite3_busy_timeout(db, 10000);
  sqlite3_stmt* st = nullptr;
  const bool held =
      sqlite3_exec(db, write ? "BEGIN IMMEDIATE" : "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK &&
      sqlite3_prepare_v2(db, "SELECT count(*) FROM sqlite_master", -1, &st, nullptr) == SQLITE_OK &&
      sqlite3_step(st) == SQLITE_ROW;
  if (held) {
    std::printf("held\n");
    std::fflush(stdout);
    Sleep(DWORD(std::strtoul(argv[2], nullptr, 10)));
  }
  sqlite3_finalize(st);
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  return held ? 0 : 1;
}
