// The enciphered TCP stream of every P2P TCP connection: the plain seed, the
// 12-byte opening block and the frames, all after the seed under RC4.
// tcp_frame builds a frame, DataOutPacking enciphers frames for sending and
// DataInPacking deciphers and reassembles received bytes. No socket I/O here.
// Platform-free.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "p2pcore/wire/rc4.h"

namespace p2p {

inline constexpr uint32_t kStreamKeyOffset = 0x5A17C3E9u;
inline constexpr uint32_t kStreamCheckValue = 0x2B94D06Fu;
inline constexpr size_t kStreamOpeningSize = 16;
inline constexpr size_t kFrameFixedSize = 10;  // length, command, header length
inline constexpr uint32_t kFrameMaxHeader = 16;
inline constexpr uint32_t kFrameMaxBody = 0x20000;
// The largest length field of a legal frame: 4 + 16 + 0x20000.
inline constexpr uint32_t kFrameMaxLength = 4 + kFrameMaxHeader + kFrameMaxBody;

// Receiver states; negative values are final errors.
enum : int16_t {
  kStreamRunning = 0,
  kStreamOpening = 1,
  kStreamEmptyInput = 2,
  kStreamBadCheck = -1,      // the opening's check value does not match
  kStreamBadHeader = -2,     // header length above 16, or a frame shorter than its header
  kStreamBodyTooLarge = -3,  // body above 0x20000 bytes, or a length field no legal frame has
  kStreamBadLength = -4,     // length field smaller than header length + 4
};

// The RC4 key of a stream: the 4 bytes of seed + 0x5A17C3E9.
void stream_cipher_init(Rc4State& st, uint32_t seed);

class tcp_frame {
 public:
  // Starts a frame with the given header length (0..16; larger values are cut to 16).
  void new_frame(uint16_t command, uint32_t header_length);
  void append(const void* data, size_t n);
  void free_frame();
  uint16_t command() const { return command_; }
  uint8_t* data() { return buf_.data(); }
  const uint8_t* data() const { return buf_.data(); }
  size_t size() const { return buf_.size(); }
  std::vector<uint8_t>& buffer() { return buf_; }

 private:
  uint16_t command_ = 0;
  std::vector<uint8_t> buf_;
};

// A pseudo-random header length 0..15 for a new frame.
uint32_t random_header_length();

class DataOutPacking {
 public:
  DataOutPacking();                     // seed drawn when the first frame is packed
  explicit DataOutPacking(uint32_t seed);  // fixed seed (0..32767)
  virtual ~DataOutPacking();
  // Enciphers the frame in place; the first frame of the stream gets the
  // 16-byte opening in front of it.
  void pack(tcp_frame& frame);
  // Bytes pack_into() writes for a frame of this header and body length.
  size_t packed_size(uint32_t header_length, size_t body) const;
  // Lays a frame out at `out` (command, header_length zero bytes, then the
  // parts a and b as its body) and enciphers it there, the opening in front
  // when it is the stream's first frame: a frame built in the sender's own
  // buffer, without a copy. Returns packed_size(), or 0 (nothing written)
  // when that exceeds capacity.
  size_t pack_into(uint8_t* out, size_t capacity, uint16_t command, uint32_t header_length, const uint8_t* a,
                   size_t na, const uint8_t* b = nullptr, size_t nb = 0);

 private:
  std::unique_ptr<Rc4State> state_;
  bool fixed_seed_ = false;
  uint32_t seed_ = 0;
};

class DataInPacking {
 public:
  DataInPacking();
  virtual ~DataInPacking();
  DataInPacking(const DataInPacking&) = delete;
  DataInPacking& operator=(const DataInPacking&) = delete;

  // Deciphers the bytes in place and delivers every complete frame to on_frame,
  // in stream order. 0 when all complete frames were delivered (a rest waits
  // for the next call); -1 on an error, with the code in state(). A receiver in
  // an error state returns its state at once and delivers nothing more.
  // on_frame must not destroy the receiver.
  int16_t unpack(uint8_t* data, size_t n);
  int16_t state() const { return state_; }
  // Bytes the next frame still needs before it can be delivered.
  uint64_t needed() const { return needed_; }

 protected:
  virtual void on_frame(uint16_t command, const uint8_t* body, uint32_t length) = 0;

 private:
  int16_t parse(uint8_t* p, size_t n);
  int16_t fail(int16_t code);

  std::unique_ptr<Rc4State> cipher_;
  std::vector<uint8_t> held_;
  uint64_t needed_ = kStreamOpeningSize;
  int16_t state_ = kStreamOpening;
};

}  // namespace p2p
