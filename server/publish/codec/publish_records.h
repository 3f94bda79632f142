// The directory and file records of published directories: stored in the
// database, sent over the control channel and shown by the user interface.
// Byte-packed, little-endian. Platform-free.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr size_t kRecordPathUnits = 260;  // wchar[260]: at most 259 units and a zero

enum PublishState : uint8_t {
  kStateNotPublished = 1,  // new, or publishing failed
  kStateChanged = 2,       // changed after publishing
  kStateCancelled = 5,
  kStateWaiting = 6,
  kStatePublishing = 7,
  kStatePublished = 8,
};

#pragma pack(push, 1)
struct CPublishDir {
  uint8_t dirId[16];                  // MD5 of the path's UTF-16LE units
  char16_t path[kRecordPathUnits];
  uint32_t pubAll;                    // 1 when added to publish everything below it
};

struct CPublishItem {
  uint32_t attributes;
  int64_t fileSize;
  int64_t lastModTime;                // FILETIME of the last write
  int64_t pubTime;                    // local time of publishing as a FILETIME
  int32_t maxConn;
  uint8_t state;                      // PublishState
  uint8_t dirId[16];                  // the covering directory's id
  uint8_t id[16];                     // MD5 of fileName's UTF-16LE units
  char16_t fileName[kRecordPathUnits];
  uint8_t fid[16];
  uint8_t sid[16];
};
#pragma pack(pop)

static_assert(sizeof(CPublishDir) == 540);
static_assert(offsetof(CPublishDir, path) == 16);
static_assert(offsetof(CPublishDir, pubAll) == 536);

static_assert(sizeof(CPublishItem) == 617);
static_assert(offsetof(CPublishItem, fileSize) == 4);
static_assert(offsetof(CPublishItem, lastModTime) == 12);
static_assert(offsetof(CPublishItem, pubTime) == 20);
static_assert(offsetof(CPublishItem, maxConn) == 28);
static_assert(offsetof(CPublishItem, state) == 32);
static_assert(offsetof(CPublishItem, dirId) == 33);
static_assert(offsetof(CPublishItem, id) == 49);
static_assert(offsetof(CPublishItem, fileName) == 65);
static_assert(offsetof(CPublishItem, fid) == 585);
static_assert(offsetof(CPublishItem, sid) == 601);

// Record id of a path: MD5 of its UTF-16LE units without the terminator.
void PathRecordId(const char16_t* path, size_t units, uint8_t id[16]);
// Copies a path into a record field. A path that does not fit with its zero
// (260 units or more) is refused and the field is left alone: never cut.
bool SetRecordPath(char16_t (&field)[kRecordPathUnits], const char16_t* path, size_t units);
// Units of a record's path up to its first zero (at most 260).
size_t RecordPathLength(const char16_t (&field)[kRecordPathUnits]);
bool IsZeroId(const uint8_t id[16]);
