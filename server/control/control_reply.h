// Building reply bodies: a status and a payload, appended in one step so a
// reply that runs out of memory goes out empty rather than cut.
#pragma once
#include <cstdint>

#include "foundation/codec/byte_buffer.h"
#include "server/control/codec/control_records.h"

// Appends the u16 status, then size bytes of payload. False when memory ran
// out; the reply is unchanged then.
bool Reply(CByteBuffer* reply, ControlStatus status, const void* payload = nullptr, uint32_t size = 0);

template <class Record>
bool ReplyRecord(CByteBuffer* reply, ControlStatus status, const Record& record) {
  return Reply(reply, status, &record, sizeof record);
}
