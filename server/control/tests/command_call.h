// The command tests' way in: a request body through the dispatcher, as the
// channel hands it over, and the little-endian fields of requests.
#pragma once
#include <cstdint>
#include <vector>

#include "server/control/command_dispatch.h"

inline std::vector<uint8_t> Request(uint16_t code, const std::vector<uint8_t>& args = {}) {
  std::vector<uint8_t> body = {uint8_t(code & 0xFF), uint8_t(code >> 8)};
  body.insert(body.end(), args.begin(), args.end());
  CByteBuffer request, reply;
  request.Append(body.data(), static_cast<uint32_t>(body.size()));
  OnTransferCommand(&request, &reply);
  return std::vector<uint8_t>(reply.Data(), reply.Data() + reply.Length());
}

inline std::vector<uint8_t> U16(uint16_t v) { return {uint8_t(v), uint8_t(v >> 8)}; }
inline std::vector<uint8_t> U32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }
inline uint16_t Status(const std::vector<uint8_t>& r) { return r.size() < 2 ? 0 : uint16_t(r[0] | r[1] << 8); }
