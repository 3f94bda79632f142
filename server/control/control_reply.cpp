// Building reply bodies in one append.
#include "server/control/control_reply.h"

#include <cstring>
#include <vector>

bool Reply(CByteBuffer* reply, ControlStatus status, const void* payload, uint32_t size) {
  if (!reply) return false;
  if (!payload) size = 0;
  std::vector<uint8_t> body(2 + size_t(size));
  uint16_t code = static_cast<uint16_t>(status);
  body[0] = static_cast<uint8_t>(code & 0xFF);
  body[1] = static_cast<uint8_t>(code >> 8);
  if (size) std::memcpy(body.data() + 2, payload, size);
  return reply->Append(body.data(), static_cast<uint32_t>(body.size())) == 0;
}
