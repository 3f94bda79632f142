// One client connection of the channel's server as a plain state: the
// request bytes gathered as they come, the reply going out as the socket
// takes it, and the step each is in since when, so that one thread can move
// every client on a little at a time and hold each step to its own deadline
// without waiting on any one client. Platform-free.
#pragma once
#include <cstdint>
#include <memory>

#include "foundation/codec/channel_frame.h"

// What a connection is doing. Every step but kIdle has a deadline.
enum class ChannelStep : uint8_t {
  kIdle,          // between frames, nothing of the next one yet
  kRecvTotal,     // part of a request's total has come
  kRecvBlock,     // the total has come, the checksum and body not all of it
  kSendTotal,     // the reply's total is not all out
  kSendChecksum,  // nor its checksum
  kSendBody,      // nor its body
};

// Bytes to hand to the socket.
struct ChannelPiece {
  const uint8_t* data;
  uint32_t length;
};

class ChannelConnection {
 public:
  // Body bytes scrambled at a time. Every send costs a round trip through
  // the socket layer (under Wine, its server too), so a reply of up to this
  // size leaves in one send; a longer one is scrambled a run at a time as
  // the socket takes the runs before it.
  static constexpr uint32_t kScrambleRun = 4u << 20;

  // Requests above maxRequestTotal are refused.
  explicit ChannelConnection(uint32_t maxRequestTotal = kChannelMaxRequestTotal);
  ChannelConnection(const ChannelConnection&) = delete;
  ChannelConnection& operator=(const ChannelConnection&) = delete;

  // Receiving, while no reply is going out: where the next bytes go and how
  // many fit. Bytes past a frame are kept as the start of the next one.
  uint8_t* RecvSpace() { return in_.get() + have_; }
  uint32_t RecvRoom() const { return capacity_ - have_; }
  void Received(uint32_t n, uint64_t nowMs);

  enum class Request { kPartial, kReady, kBadTotal };
  // kBadTotal: a total without room for the checksum or above the bound;
  // the stream cannot be followed after it.
  Request Check() const;
  // The ready request (Check() == kReady).
  uint32_t RequestChecksum() const { return ChannelLoadU32(in_.get() + kChannelTotalSize); }
  uint8_t* RequestBody() { return in_.get() + kChannelHeaderSize; }
  uint32_t RequestLength() const { return ChannelLoadU32(in_.get()) - 4; }

  // Done with the ready request: without a reply (its checksum did not
  // match), or with a reply whose plain body stays where it lies, owned by
  // the caller, until Sending() is false. The body is scrambled in place,
  // a run at a time ahead of the send; checksum is its plain checksum.
  void DropRequest(uint64_t nowMs);
  void StartReply(uint8_t* body, uint32_t length, uint32_t checksum, uint64_t nowMs);

  bool Sending() const { return sending_; }
  // The next bytes of the reply, in at most two pieces (the rest of the
  // total and checksum, then scrambled body bytes); the count of pieces.
  uint32_t NextPieces(ChannelPiece pieces[2]);
  // n bytes of what NextPieces gave went out.
  void Sent(uint32_t n, uint64_t nowMs);

  ChannelStep Step() const { return step_; }
  uint64_t StepStartMs() const { return stepStartMs_; }
  // True when the current step has lasted limitMs or more.
  bool Overdue(uint64_t nowMs, uint32_t limitMs) const {
    return step_ != ChannelStep::kIdle && nowMs - stepStartMs_ >= limitMs;
  }

 private:
  void Consume();
  // newFrame: a frame was just done with, so the step starts afresh.
  void NoteStep(uint64_t nowMs, bool newFrame);

  uint32_t maxTotal_;
  uint32_t capacity_;  // a whole request of the largest total, with its total
  std::unique_ptr<uint8_t[]> in_;
  uint32_t have_ = 0;

  bool sending_ = false;
  uint8_t header_[kChannelHeaderSize];
  uint8_t* body_ = nullptr;
  uint32_t length_ = 0;
  uint32_t checksum_ = 0;
  uint64_t sent_ = 0;       // header and body bytes out
  uint32_t scrambled_ = 0;  // body bytes scrambled

  ChannelStep step_ = ChannelStep::kIdle;
  uint64_t stepStartMs_ = 0;
};
