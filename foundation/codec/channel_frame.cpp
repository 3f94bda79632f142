// Channel checksum and body scrambling. The mask is 256 little-endian words:
// CRC table entry j shifted right by 8, plus word 255 - j of the salt table.
#include "foundation/codec/channel_frame.h"

#include <cstdlib>
#include <ctime>
#include <mutex>

#include "foundation/codec/channel_mask_table.h"
#include "foundation/codec/crc32.h"

uint8_t ChannelMask[kChannelMaskSize];

namespace {
std::once_flag maskBuilt;

void FillMask() {
  for (uint32_t j = 0; j < 256; ++j) ChannelStoreU32(ChannelMask + 4 * j, (kCrc32Table[j] >> 8) + kChannelMaskSalt[255 - j]);
}

void Scramble(uint8_t* body, uint32_t length, uint32_t checksum) {
  for (uint32_t i = 0; i < length; ++i) body[i] ^= ChannelMask[(checksum + i) % kChannelMaskSize];
}
}  // namespace

void IpcBuildMask() {
  // The bytes never change, so filling once keeps a session that starts
  // while another one is sending from rewriting the mask under it.
  std::call_once(maskBuilt, FillMask);
  std::srand(static_cast<unsigned>(std::time(nullptr)));
}

uint32_t IpcEncodeBody(uint8_t* body, uint32_t length) {
  const uint32_t checksum = Crc32Update(body, length);
  Scramble(body, length, checksum);
  return checksum;
}

bool IpcDecodeBody(uint8_t* body, uint32_t length, uint32_t checksum) {
  Scramble(body, length, checksum);
  return Crc32Update(body, length) == checksum;
}
