// The fixed-size records and blocks that control-command replies carry, as
// the user interface reads them. Byte-packed, little-endian. Platform-free.
#pragma once
#include <cstddef>
#include <cstdint>

#pragma pack(push, 1)

struct DirRecord {            // a published directory
  uint8_t dirId[16];
  char16_t path[260];
  uint32_t publishAll;
};
static_assert(sizeof(DirRecord) == 540);
static_assert(offsetof(DirRecord, path) == 16 && offsetof(DirRecord, publishAll) == 536);

struct FileRecord {           // a file of a published directory
  uint32_t attributes;
  int64_t fileSize;
  int64_t lastWriteTime;      // FILETIME
  int64_t publishTime;        // local time as a FILETIME value
  int32_t maxConnections;
  uint8_t state;
  uint8_t dirId[16];
  uint8_t id[16];
  char16_t fileName[260];     // full path
  uint8_t fid[16];
  uint8_t sid[16];
};
static_assert(sizeof(FileRecord) == 617);
static_assert(offsetof(FileRecord, state) == 32 && offsetof(FileRecord, fileName) == 65 &&
              offsetof(FileRecord, fid) == 585 && offsetof(FileRecord, sid) == 601);

// Rows of the peer and upload lists; their pages read the fields by offset.
struct UserRecord {
  uint8_t bytes[456];
};
static_assert(sizeof(UserRecord) == 456);

struct UploadRecord {
  uint8_t bytes[304];
};
static_assert(sizeof(UploadRecord) == 304);

struct FtpDirEntry {
  char16_t first[260];
  char16_t second[260];
  uint32_t flag;              // 1 the FTP home entry, 0 a published directory
};
static_assert(sizeof(FtpDirEntry) == 1044);

struct ServerInfoBlock {
  char16_t statusText[64];
  uint64_t nodeId;
  uint32_t publicAddress;     // IPv4, network order
  uint32_t directoryCount;
  uint32_t sharedFileCount;
};
static_assert(sizeof(ServerInfoBlock) == 148);
static_assert(offsetof(ServerInfoBlock, nodeId) == 128 && offsetof(ServerInfoBlock, sharedFileCount) == 144);

struct SystemInfoBlock {
  char16_t osText[64];
  char16_t processorName[64];
};
static_assert(sizeof(SystemInfoBlock) == 256);

struct PerformanceBlock {
  uint32_t totalPhysical;
  uint32_t availablePhysical;
  uint32_t availableVirtual;
  uint64_t totalDisk;
  uint64_t availableDisk;
};
static_assert(sizeof(PerformanceBlock) == 28);

struct FtpStatistics {
  uint64_t first;
  uint64_t second;
  uint32_t connections;
};
static_assert(sizeof(FtpStatistics) == 20);

struct P2pSetting {
  uint32_t maxUpSpeed;        // KB/s, 0 unlimited
  uint16_t logLevel;
  uint16_t port;
};
static_assert(sizeof(P2pSetting) == 8);

struct P2pTotals {
  uint8_t bytes[24];
};
static_assert(sizeof(P2pTotals) == 24);

struct P2pStatBlock {
  uint8_t bytes[56];
};
static_assert(sizeof(P2pStatBlock) == 56);

// The body of command 49 after its code.
struct ExportRequest {
  uint32_t linkKind;
  uint32_t naming;
  uint32_t sort;
  uint64_t rangeStart;
  uint64_t rangeEnd;
  char16_t keyword[260];
  char16_t path[260];
};
static_assert(sizeof(ExportRequest) == 1068);
static_assert(offsetof(ExportRequest, keyword) == 28 && offsetof(ExportRequest, path) == 548);

#pragma pack(pop)
