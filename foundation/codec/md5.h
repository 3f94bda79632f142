// MD5 as published in RFC 1321. Platform-free.
#pragma once
#include <cstddef>
#include <cstdint>

struct MD5Context {
  uint32_t count[2];   // bit count, low word first
  uint32_t state[4];
  uint8_t buffer[64];
};

void MD5Init(MD5Context* ctx);
void MD5Update(MD5Context* ctx, const void* data, size_t length);
void MD5Final(MD5Context* ctx, uint8_t digest[16]);
void MD5Digest(const void* data, size_t length, uint8_t digest[16]);
