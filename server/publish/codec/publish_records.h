// Path fields of the directory and file records that the database stores and
// the control channel sends (record ids come from MakePathRecordId). Platform-free.
#pragma once
#include <cstddef>
#include <cstdint>

#include "server/control/codec/control_records.h"

// The records themselves are the control channel's (CPublishDir, CPublishItem, PublishState).
constexpr size_t kRecordPathUnits = kPathUnits;

// Copies a path into a record field. A path that does not fit with its zero
// (260 units or more) is refused and the field is left alone: never cut.
bool SetRecordPath(char16_t (&field)[kRecordPathUnits], const char16_t* path, size_t units);
// Units of a record's path up to its first zero (at most 260).
size_t RecordPathLength(const char16_t (&field)[kRecordPathUnits]);
bool IsZeroId(const uint8_t id[16]);
