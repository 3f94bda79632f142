// One accepted TCP peer: its streams, request dispatch, send buffer and time-outs.
#include "p2pcore/wire/online_session.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "p2pcore/codec/texts.h"

namespace p2p {

class online_session::receiver : public DataInPacking {
 public:
  explicit receiver(online_session& s) : s_(s) {}

 protected:
  void on_frame(uint16_t command, const uint8_t* body, uint32_t length) override { s_.dispatch(command, body, length); }

 private:
  online_session& s_;
};

online_session::online_session(online_session_events& events, online_socket& socket)
    : events_(events), socket_(socket), buffer_(new uint8_t[kOnlineSendBuffer]) {}

online_session::~online_session() = default;

void online_session::log(int level, const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  events_.log(level, text);
}

void online_session::reset(uint64_t now, long fd, uint32_t piece_blocks) {
  in_ = std::make_unique<receiver>(*this);
  out_ = std::make_unique<DataOutPacking>();
  fd_ = fd;
  piece_blocks_ = piece_blocks ? piece_blocks : 1;
  last_active_ = login_time_ = now;
  state_.store(ONLINE_INIT);
  {
    std::lock_guard<std::mutex> h(check_have_lock_);
    check_have_ = CheckHave{};
  }
  head_ = tail_ = unsent_ = 0;
  waiting_seen_.store(0, std::memory_order_relaxed);
  bytes_sent_ = 0;
}

uint64_t online_session::user_id() const {
  std::lock_guard<std::mutex> h(check_have_lock_);
  return check_have_.user_id;
}

CheckHave online_session::check_have() const {
  std::lock_guard<std::mutex> h(check_have_lock_);
  return check_have_;
}

int online_session::receive(uint8_t* bytes, size_t n) {
  if (state() == ONLINE_BAD) return -1;
  if (in_->unpack(bytes, n) < 0) {
    set_bad();
    log(9, "TCP::DataInPacking error!");
  }
  return state() == ONLINE_BAD ? -1 : 0;
}

void online_session::dispatch(uint16_t command, const uint8_t* body, uint32_t length) {
  events_.on_frame_received(command, length);
  // Frames after a protocol error in the same read are not acted on.
  if (state() == ONLINE_BAD) return;
  switch (command) {
    case kTcpReqActive:
      if (length != 0) {
        log(9, "TCP::Client Req_Active len=[%d] error!", int(length));
        return;
      }
      events_.on_active_request();
      return;
    case kTcpCheckHave: {
      CheckHave c;
      if (parse_check_have(body, length, c) != PeerError::kNone) {
        log(9, "TCP::Client Check_Have len=[%d] error!", int(length));
        return;
      }
      {
        std::lock_guard<std::mutex> h(check_have_lock_);
        check_have_ = c;
      }
      state_.store(ONLINE_CHECK_HAVE);
      events_.on_check_have(c);
      return;
    }
    case kTcpReqData:
      on_req_data(body, length);
      return;
    case kTcpFinishRange:
      on_finish_range(body, length);
      return;
    case kTcpReqVerifyRange:
      on_verify_range(body, length);
      return;
    case kTcpBackOff:
    case kTcpIgnored26:
      return;
    default:
      log(9, "TCP::Client recv Unkown CMD=[%d]!", int(command));
      return;
  }
}

void online_session::on_req_data(const uint8_t* body, uint32_t length) {
  if (state() != ONLINE_CHECK_HAVE) {
    log(9, "TCP::Client Should first recv the checkhave!");
    set_bad();
    return;
  }
  ReqData request;
  const PeerError e = parse_req_data(body, length, request);
  if (e == PeerError::kCount) {
    log(9, "TCP::Client Req_data too many range=[%u]!", unsigned(request.count));
    return;
  }
  if (e != PeerError::kNone) {
    log(9, "TCP::Client Req_data len=[%u] holds fewer ranges than it counts", unsigned(length));
    return;
  }
  std::vector<DataPiece> pieces;
  const uint64_t size = events_.shared_file_size(check_have().fid);
  // Pieces that start past the end of the file go on all the same: their
  // read refuses them, and the peer is told so.
  switch (cut_pieces(request, piece_blocks_, size, kMaxPiecesPerRequest, pieces)) {
    case PeerError::kNone:
      break;
    case PeerError::kCount:
      log(9, "TCP::Client Req_data asks for more than %u reads", unsigned(kMaxPiecesPerRequest));
      return;
    default:
      log(9, "TCP::Client Req_data range with its first block after its last");
      return;
  }
  for (const DataPiece& p : pieces) {
    if (!p.last_of_range) log(9, "Client the range start %uK and end %uK", unsigned(p.range_first), unsigned(p.range_last));
    events_.on_data_piece(p);
  }
}

void online_session::on_finish_range(const uint8_t* body, uint32_t length) {
  HaveMap map;
  const PeerError e = parse_finish_range(body, length, map);
  if (e == PeerError::kShort) {
    log(2, "TCP::Client finish_range length=[%d] error %d", int(length), -1);
    return;
  }
  log(1, "TCP::CP2pSession::incoming_finish_range|userid=[%llu],hash=[%s],IndexUnit=[%u],IndexByte=[%u],IndexNum[%u]",
      (unsigned long long)user_id(), hash_hex(map.file_hash).c_str(), unsigned(map.unit),
      unsigned(map.width), unsigned(map.count));
  if (e != PeerError::kNone) return;
  if (state() != ONLINE_CHECK_HAVE) {
    log(9, "TCP::Client checkhave packet!");
    set_bad();
    return;
  }
  events_.on_finish_range(map, body, length);
}

void online_session::on_verify_range(const uint8_t* body, uint32_t length) {
  if (length != kReqVerifySize) {
    log(9, "TCP::Client Req_VerifyRange len error=[%d]!", int(length));
    return;
  }
  if (state() != ONLINE_CHECK_HAVE) {
    log(9, "TCP::Client Should Recv first checkhave!");
    set_bad();
    return;
  }
  VerifyRequest r;
  parse_verify_request(body, length, r);
  // The range is of the file the peer named in its Check_Have.
  const CheckHave c = check_have();
  std::memcpy(r.file_hash, c.fid, 16);
  std::memcpy(r.echo, c.fid, 16);
  events_.on_verify(r);
}

std::vector<uint8_t> online_session::packed_frame(uint16_t command, const uint8_t* body, size_t n) {
  const uint32_t header = random_header_length();
  std::vector<uint8_t> out(out_->packed_size(header, n));
  out_->pack_into(out.data(), out.size(), command, header, body, n);
  return out;
}

bool online_session::usable_for_sending() {
  const int s = state();
  if (s == ONLINE_CHECK_HAVE) return true;
  if (s != ONLINE_INIT) {
    log(3, "online_user::send_cmd not ONLINE_CHECK_HAVE");
    set_bad();
  }
  return false;
}

bool online_session::room_for(size_t n) {
  if (waiting() + n > kOnlineSendLimit) {
    log(3, "online_user::send_cmd user_size[%d] send_size[%d]", int(waiting()), int(n));
    set_bad();
    return false;
  }
  if (tail_ + n > kOnlineSendBuffer) {
    std::memmove(buffer_.get(), buffer_.get() + head_, tail_ - head_);
    tail_ -= head_;
    head_ = 0;
  }
  return true;
}

bool online_session::append_frame(uint16_t command, const uint8_t* head, size_t head_n, const uint8_t* data,
                                  size_t data_n) {
  if (!usable_for_sending()) return false;
  const uint32_t header = random_header_length();
  const size_t n = out_->packed_size(header, head_n + data_n);
  if (!room_for(n)) return false;
  // Packed in the send buffer itself: no copy of the data besides this one.
  tail_ += out_->pack_into(buffer_.get() + tail_, kOnlineSendBuffer - tail_, command, header, head, head_n, data,
                           data_n);
  unsent_ += n;
  events_.on_frame_sent(command, n);
  return true;
}

bool online_session::answer(uint16_t command, const uint8_t* data, uint32_t length, const answer_stamp& stamp,
                            uint64_t now) {
  if (state() == ONLINE_BAD) {
    log(9, "online_user::set_send_buff ONLINE_BAD");
    return false;
  }
  if (stamp.login_time != login_time_ || stamp.user_id != user_id() || stamp.flag != 0) {
    log(9, "online_user::set_send_buff login time or userid diff");
    return false;
  }
  // Packing advances the stream's cipher: nothing is packed that is not sent.
  if (state() == ONLINE_INIT) return true;
  last_active_ = now;
  if (command != kTcpBlockData) return append_frame(command, nullptr, 0, data, length) && send_cmd(nullptr, 0);
  for (const BlockFrame& f : block_frames(stamp.first_block, length)) {
    uint8_t head[kBlockFrameHead];
    block_frame_head(f, head);
    if (!append_frame(kTcpBlockData, head, sizeof head, data + f.offset, f.length)) return false;
    // Frames go to the socket in batches: a send per 4 KiB frame costs more than the frame.
    if (unsent_ >= kSendBatch && !send_cmd(nullptr, 0)) return false;
  }
  return send_cmd(nullptr, 0);
}

bool online_session::send_cmd(const uint8_t* p, size_t n) {
  if (!usable_for_sending()) return state() == ONLINE_INIT;  // nothing goes to a peer before its Check_Have
  if (n) {
    if (!room_for(n)) return false;
    std::memcpy(buffer_.get() + tail_, p, n);
    tail_ += n;
  }
  unsent_ = 0;
  while (head_ < tail_) {
    int error = 0;
    const long sent = socket_.send(buffer_.get() + head_, tail_ - head_, &error);
    if (sent == 0) break;
    if (sent < 0) {
      set_bad();
      log(3, "online_user::send_cmd Send errno=[%d]!", error);
      return false;
    }
    head_ += size_t(sent);
    bytes_sent_ += uint64_t(sent);
  }
  if (head_ == tail_) head_ = tail_ = 0;
  waiting_seen_.store(tail_ - head_, std::memory_order_relaxed);
  return true;
}

bool online_session::is_timed_out(int mode, uint64_t now) {
  const uint64_t idle = mode == 1 ? 5 : 20;
  const bool active_ok = now <= last_active_ + idle;
  const bool login_ok = last_active_ != login_time_ || now <= login_time_ + 10;
  if (active_ok && login_ok) return false;
  log(9, "TCP::Main Client timeout fd=[%ld] and userid=[%lld] login time[%lld] active time[%lld] now time[%lld] type[%d]",
      fd_, (long long)user_id(), (long long)login_time_, (long long)last_active_, (long long)now, mode);
  set_bad();
  return true;
}

}  // namespace p2p
