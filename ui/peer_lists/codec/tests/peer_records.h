// Builders of the P2P core's user and uploading records for the tests, from
// named fields laid out at the offsets of the 456- and 304-byte records.
#pragma once
#include <array>
#include <cstdint>
#include <cstring>
#include <string>

#include "ui/client/codec/control_records.h"

struct PeerFields {
  uint64_t userId = 0;
  std::array<uint8_t, 4> address{};
  uint16_t port = 0;
  uint8_t nat = 0;
  std::array<uint8_t, 4> versionAddress{};
  uint32_t versionValue = 0;
  std::string versionText;  // bytes beyond the 32-byte field are dropped
  std::array<uint8_t, 16> fid{};
  std::string path;  // bytes beyond the 260-byte field are dropped
  uint64_t sent = 0;
  uint32_t speed = 0;
  uint8_t transport = 0;
  uint32_t reads = 0, cacheHits = 0, diskBytes = 0, cacheBytes = 0;
  int32_t extra = 0;
};

struct UploadFields {
  std::array<uint8_t, 16> fid{};
  std::string path;  // bytes beyond the 255-byte field are dropped
  uint64_t size = 0;
  uint32_t handshakes = 0, requests = 0;
  uint64_t sent = 0;
  uint32_t speed = 0;
};

inline void PutLe(uint8_t* bytes, size_t offset, uint64_t value, int n) {
  for (int i = 0; i < n; ++i) bytes[offset + static_cast<size_t>(i)] = static_cast<uint8_t>(value >> (8 * i));
}

inline void PutText(uint8_t* bytes, size_t offset, const std::string& text, size_t fieldBytes) {
  std::memcpy(bytes + offset, text.data(), text.size() < fieldBytes ? text.size() : fieldBytes);
}

inline UserRecord MakeUserRecord(const PeerFields& f) {
  UserRecord r{};
  auto* b = reinterpret_cast<uint8_t*>(&r);
  PutLe(b, 4, f.userId, 8);
  std::memcpy(b + 12, f.address.data(), 4);
  PutLe(b, 16, f.port, 2);
  b[18] = f.nat;
  std::memcpy(b + 20, f.versionAddress.data(), 4);
  PutLe(b, 24, f.versionValue, 4);
  PutText(b, 28, f.versionText, 32);
  std::memcpy(b + 60, f.fid.data(), 16);
  PutText(b, 76, f.path, 260);
  PutLe(b, 336, f.sent, 8);
  PutLe(b, 344, f.speed, 4);
  b[380] = f.transport;
  PutLe(b, 406, f.reads, 4);
  PutLe(b, 410, f.cacheHits, 4);
  PutLe(b, 414, f.diskBytes, 4);
  PutLe(b, 418, f.cacheBytes, 4);
  PutLe(b, 424, static_cast<uint32_t>(f.extra), 4);
  return r;
}

inline UploadRecord MakeUploadRecord(const UploadFields& f) {
  UploadRecord r{};
  auto* b = reinterpret_cast<uint8_t*>(&r);
  std::memcpy(b, f.fid.data(), 16);
  PutText(b, 16, f.path, 255);
  PutLe(b, 272, f.size, 8);
  PutLe(b, 280, f.handshakes, 4);
  PutLe(b, 284, f.requests, 4);
  PutLe(b, 288, f.sent, 8);
  PutLe(b, 296, f.speed, 4);
  return r;
}

inline std::array<uint8_t, 16> FidOf(uint8_t seed) {
  std::array<uint8_t, 16> fid{};
  for (size_t i = 0; i < fid.size(); ++i) fid[i] = static_cast<uint8_t>(seed + 0x11 * i);
  return fid;
}
