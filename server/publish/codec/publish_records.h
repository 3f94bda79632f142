// Path fields of the directory and file records that the database stores and
// the control channel sends (record ids come from MakePathRecordId). Platform-free.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "server/control/codec/control_records.h"

// The records themselves are the control channel's (CPublishDir, CPublishItem, PublishState).
constexpr size_t kRecordPathUnits = kPathUnits;

// The path functions take the field's address, not a char16_t array: the
// records are byte-packed and the file record's path lies at the odd offset
// 65, where no char16_t may be read or written directly. They copy bytes.

// Copies a path into a record field of kRecordPathUnits units. A path that
// does not fit with its zero (260 units or more) is refused and the field is
// left alone: never cut.
bool SetRecordPath(void* field, const char16_t* path, size_t units);
// Units of a record's path up to its first zero (at most 260).
size_t RecordPathLength(const void* field);
// A record's path up to its first zero, copied out.
std::u16string RecordPathText(const void* field);
bool IsZeroId(const uint8_t id[16]);
// A stored id blob (the ID, DIRID, FID and SID columns) into 16 bytes: what
// is there, zero-padded; a longer blob is cut at 16.
void ReadStoredId(const void* blob, int bytes, uint8_t id[16]);
