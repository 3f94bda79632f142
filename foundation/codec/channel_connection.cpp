// ChannelConnection: a request is gathered in one block the size of the
// largest request, and a reply is scrambled a run ahead of what the socket
// has taken, so its first bytes leave before the rest is scrambled.
#include "foundation/codec/channel_connection.h"

#include <cstring>

ChannelConnection::ChannelConnection(uint32_t maxRequestTotal)
    : maxTotal_(maxRequestTotal),
      capacity_(kChannelTotalSize + maxRequestTotal),
      in_(new uint8_t[kChannelTotalSize + maxRequestTotal]) {}

void ChannelConnection::Received(uint32_t n, uint64_t nowMs) {
  have_ += n <= RecvRoom() ? n : RecvRoom();
  NoteStep(nowMs, false);
}

ChannelConnection::Request ChannelConnection::Check() const {
  if (have_ < kChannelTotalSize) return Request::kPartial;
  const uint32_t total = ChannelLoadU32(in_.get());
  if (!ChannelTotalAcceptable(total, maxTotal_)) return Request::kBadTotal;
  return have_ - kChannelTotalSize >= total ? Request::kReady : Request::kPartial;
}

void ChannelConnection::Consume() {
  const uint32_t frame = kChannelTotalSize + ChannelLoadU32(in_.get());
  std::memmove(in_.get(), in_.get() + frame, have_ - frame);
  have_ -= frame;
}

void ChannelConnection::DropRequest(uint64_t nowMs) {
  if (Check() != Request::kReady) return;
  Consume();
  NoteStep(nowMs, true);
}

void ChannelConnection::StartReply(uint8_t* body, uint32_t length, uint32_t checksum, uint64_t nowMs) {
  if (Check() == Request::kReady) Consume();
  ChannelStoreU32(header_, length + 4);
  ChannelStoreU32(header_ + kChannelTotalSize, checksum);
  body_ = body;
  length_ = length;
  checksum_ = checksum;
  sent_ = 0;
  scrambled_ = 0;
  sending_ = true;
  NoteStep(nowMs, true);
}

uint32_t ChannelConnection::NextPieces(ChannelPiece pieces[2]) {
  if (!sending_) return 0;
  uint32_t count = 0;
  if (sent_ < kChannelHeaderSize) {
    pieces[count++] = {header_ + sent_, uint32_t(kChannelHeaderSize - sent_)};
  }
  const uint32_t bodySent = sent_ > kChannelHeaderSize ? uint32_t(sent_ - kChannelHeaderSize) : 0;
  // The next run is scrambled once the socket has taken the one before.
  if (scrambled_ == bodySent && scrambled_ < length_) {
    const uint32_t until = length_ - scrambled_ < kScrambleRun ? length_ : scrambled_ + kScrambleRun;
    ChannelScrambleAt(body_ + scrambled_, until - scrambled_, checksum_, scrambled_);
    scrambled_ = until;
  }
  if (scrambled_ > bodySent) pieces[count++] = {body_ + bodySent, scrambled_ - bodySent};
  return count;
}

void ChannelConnection::Sent(uint32_t n, uint64_t nowMs) {
  if (!sending_) return;
  const uint64_t ready = kChannelHeaderSize + uint64_t(scrambled_);
  sent_ += n <= ready - sent_ ? n : ready - sent_;
  if (sent_ == kChannelHeaderSize + uint64_t(length_)) {
    sending_ = false;
    body_ = nullptr;
  }
  NoteStep(nowMs, false);
}

void ChannelConnection::NoteStep(uint64_t nowMs, bool newFrame) {
  ChannelStep step;
  if (sending_) {
    step = sent_ < kChannelTotalSize    ? ChannelStep::kSendTotal
           : sent_ < kChannelHeaderSize ? ChannelStep::kSendChecksum
                                        : ChannelStep::kSendBody;
  } else {
    step = have_ == 0                   ? ChannelStep::kIdle
           : have_ < kChannelTotalSize  ? ChannelStep::kRecvTotal
                                        : ChannelStep::kRecvBlock;
  }
  // A step's deadline runs from the moment it began; the next frame's
  // first step begins when the one before it is done.
  if (step != step_ || newFrame) stepStartMs_ = nowMs;
  step_ = step;
}
