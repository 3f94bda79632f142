// The control channel's command codes, statuses and the byte-packed records
// that travel in request and reply bodies. Platform-free.
#pragma once
#include <cstddef>
#include <cstdint>

#include "foundation/codec/channel_frame.h"

enum class ControlCommand : uint16_t {
  AddDir = 1,
  PubDir = 2,
  DelDir = 4,
  SetAutoDir = 5,
  PubFile = 17,
  CancelPubFile = 18,
  DirList = 33,
  GetFileList = 34,
  AllUnpublished = 35,
  ExportURL = 49,
  GetFtpAccount = 65,
  SetFtpAccount = 66,
  GetFtpSetting = 67,
  SetFtpSetting = 68,
  GetFtpStatistics = 69,
  GetServerInfo = 81,
  GetSystemInfo = 82,
  GetPerformance = 83,
  GetUserList = 97,
  GetUploadingList = 98,
  GetP2pSetting = 113,
  SetP2pMaxUpSpeed = 114,
  SetP2pLogLevel = 115,
  SetP2pPort = 116,
  GetP2pStatistics = 117,
  CloseServer = 129,
  ResumeUpload = 130,
  PauseUpload = 131,
};
constexpr uint16_t kLastControlCommand = 131;

enum class ControlStatus : uint16_t {
  Ok = 200,
  AlreadyPublished = 403,
  NotFound = 404,
  PortInitFailed = 501,
  NotLoggedIn = 502,
};

constexpr size_t kPathUnits = 260;  // PATH field: 520 bytes
constexpr size_t kNameUnits = 64;   // NAME field: 128 bytes

#pragma pack(push, 1)

// A published directory.
struct CPublishDir {
  uint8_t dirId[16];             // MD5 of the path's UTF-16LE units
  char16_t path[kPathUnits];     // at most 259 characters, zero-padded
  uint32_t pubAll;               // 1 when added to publish every file
};

// A file of a published directory.
struct CPublishItem {
  uint32_t attributes;
  int64_t fileSize;
  int64_t lastModTime;           // FILETIME of the last write
  int64_t pubTime;               // local time of publishing as a FILETIME value
  int32_t maxConn;
  uint8_t state;                 // PublishState
  uint8_t dirId[16];
  uint8_t id[16];                // MD5 of fileName's UTF-16LE units
  char16_t fileName[kPathUnits]; // full path, at most 259 characters
  uint8_t fid[16];
  uint8_t sid[16];
};

struct FtpShareDirEntry {
  char16_t first[kPathUnits];
  char16_t second[kPathUnits];
  uint32_t isHome;               // 1 for the FTP home entry
};

struct ServerInfoBlock {
  char16_t status[kNameUnits];
  uint64_t nodeId;
  uint32_t publicIp;
  uint32_t dirCount;
  uint32_t shareCount;
};

struct SystemInfoBlock {
  char16_t os[kNameUnits];
  char16_t cpu[kNameUnits];
};

// Memory figures are 32-bit fields; larger values are clamped to 0xFFFFFFFF.
struct PerformanceBlock {
  uint32_t totalPhys;
  uint32_t availPhys;
  uint32_t availVirtual;
  uint64_t reserved0;            // always 0
  uint64_t reserved1;            // always 0
};

// Command 66's request after its code.
struct FtpAccountRequest {
  char16_t user[kNameUnits];
  char16_t password[kNameUnits];  // plain text
};
static_assert(sizeof(FtpAccountRequest) == 256);

// Command 65's reply after its status; dirCount FtpShareDirEntry records follow.
struct FtpAccountHead {
  char16_t user[kNameUnits];
  char16_t password[kNameUnits];  // 32 upper-case hex digits of the MD5 of its ANSI text; empty for none
  uint32_t dirCount;
};
static_assert(sizeof(FtpAccountHead) == 260 && offsetof(FtpAccountHead, dirCount) == 256);

// Command 67's reply after its status.
struct FtpSetting {
  char16_t host[kNameUnits];
  uint16_t port;
};
static_assert(sizeof(FtpSetting) == 130 && offsetof(FtpSetting, port) == 128);

// Command 68's request after its code: what the user interface sends.
struct FtpSettingRequest {
  uint32_t hostType;             // 1 an IPv4 address, 2 a domain name
  char16_t host[kNameUnits];
  uint16_t port;                 // 0 when the user interface gives none
};
static_assert(sizeof(FtpSettingRequest) == 134);
static_assert(offsetof(FtpSettingRequest, host) == 4 && offsetof(FtpSettingRequest, port) == 132);

// Command 69's reply after its status: the FTP library's two traffic counters
// in the order it gives them, and its connected users.
struct FtpStatistics {
  uint64_t first;
  uint64_t second;
  uint32_t connections;
};
static_assert(sizeof(FtpStatistics) == 20 && offsetof(FtpStatistics, connections) == 16);

// The kept P2P settings of command 113.
struct P2pSetting {
  uint32_t maxUpSpeed;        // KB/s, 0 unlimited
  uint16_t logLevel;
  uint16_t port;
};
static_assert(sizeof(P2pSetting) == 8);

// The body of command 49 after its code.
struct ExportRequest {
  uint32_t linkKind;         // non-zero: vxhd links of stored files; 0: FTP links of files on disk
  uint32_t parentNaming;     // non-zero: "<parent>_<name>" in vxhd links
  uint32_t sort;             // non-zero: sort the lines by name
  uint64_t rangeStart;       // PubTime form
  uint64_t rangeEnd;
  char16_t keyword[260];     // empty for none
  char16_t path[260];        // directory or file to export
};
static_assert(sizeof(ExportRequest) == 1068);
static_assert(offsetof(ExportRequest, rangeStart) == 12 && offsetof(ExportRequest, rangeEnd) == 20);
static_assert(offsetof(ExportRequest, keyword) == 28 && offsetof(ExportRequest, path) == 548);
// The longest request of any command, this one after its u16 code, fits in
// the largest total (checksum and body) the channel's server takes.
static_assert(4 + sizeof(uint16_t) + sizeof(ExportRequest) <= kChannelMaxRequestTotal);

#pragma pack(pop)

enum PublishState : uint8_t {
  kPublishNone = 1,       // not published, or publishing failed
  kPublishChanged = 2,    // changed after publishing
  kPublishCancelled = 5,
  kPublishWaiting = 6,
  kPublishRunning = 7,
  kPublishDone = 8,
};

static_assert(sizeof(CPublishDir) == 540);
static_assert(offsetof(CPublishDir, path) == 16 && offsetof(CPublishDir, pubAll) == 536);
static_assert(sizeof(CPublishItem) == 617);
static_assert(offsetof(CPublishItem, fileSize) == 4 && offsetof(CPublishItem, lastModTime) == 12);
static_assert(offsetof(CPublishItem, pubTime) == 20 && offsetof(CPublishItem, maxConn) == 28);
static_assert(offsetof(CPublishItem, state) == 32 && offsetof(CPublishItem, dirId) == 33);
static_assert(offsetof(CPublishItem, id) == 49 && offsetof(CPublishItem, fileName) == 65);
static_assert(offsetof(CPublishItem, fid) == 585 && offsetof(CPublishItem, sid) == 601);
static_assert(sizeof(FtpShareDirEntry) == 1044);
static_assert(offsetof(FtpShareDirEntry, second) == 520 && offsetof(FtpShareDirEntry, isHome) == 1040);
static_assert(sizeof(ServerInfoBlock) == 148);
static_assert(offsetof(ServerInfoBlock, nodeId) == 128 && offsetof(ServerInfoBlock, publicIp) == 136);
static_assert(offsetof(ServerInfoBlock, dirCount) == 140 && offsetof(ServerInfoBlock, shareCount) == 144);
static_assert(sizeof(SystemInfoBlock) == 256 && offsetof(SystemInfoBlock, cpu) == 128);
static_assert(sizeof(PerformanceBlock) == 28 && offsetof(PerformanceBlock, reserved0) == 12);
