// A native downloading peer for large transfers and the serving benchmark, on
// the platform-free wire codecs (Linux sockets, host build). One line of
// "key=value" figures on standard output per run.
//
//   p2p_native_peer tcp  --port P --fid HEX --size N [--peers K] [--whole] [--piece-blocks B] [--window W]
//                        [--user-id U] [--md5] [--compare FILE]
//       K peers, each the file's K-th slice (or all of it with --whole), by Check_Have and Req_data.
//   p2p_native_peer udp  --port P --fid HEX --size N --ports P1,P2,... [--seconds S] [--window W] [--wrapped]
//                        [--user-id U]
//       one peer per local port (introduced by the super node first), getfiledata for S seconds.
//   p2p_native_peer http --port P --path /name --size N [--peers K]      K slices by HTTP Range requests
//   p2p_native_peer raw  --port P --size N [--peers K]                   K connections read to their end
//   p2p_native_peer rc4  --port P --size N [--peers K]                   the same, each stream a plain 4-byte
//       seed and then RC4 under that seed's key, deciphered into the slice's place as a Req_data peer does
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "p2pcore/codec/md5.h"
#include "p2pcore/wire/peer_tcp.h"
#include "p2pcore/wire/peer_udp.h"
#include "p2pcore/wire/tcp_stream.h"
#include "p2pcore/wire/udp_packet.h"
#include "p2pcore/wire/wire_bytes.h"

using namespace p2p;

namespace {

struct options {
  std::string mode;
  int port = 0;
  uint8_t fid[16] = {};
  uint64_t size = 0;
  int peers = 1;
  bool whole = false;
  uint32_t piece_blocks = 256;
  int window = 3;
  uint64_t user_id = 1000;
  bool md5 = false;
  std::string compare;
  std::vector<int> ports;
  double seconds = 5;
  bool wrapped = false;
  std::string path = "/";
};

double now_s() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

int connect_to(int port) {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a = {};
  a.sin_family = AF_INET;
  a.sin_port = htons(uint16_t(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(s);
    return -1;
  }
  int one = 1;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return s;
}

bool send_all(int s, const uint8_t* p, size_t n) {
  while (n) {
    const ssize_t k = send(s, p, n, MSG_NOSIGNAL);
    if (k <= 0) return false;
    p += k;
    n -= size_t(k);
  }
  return true;
}

// ---- TCP peer

class tcp_download : private DataInPacking {
 public:
  tcp_download(const options& o, uint64_t user_id, uint64_t offset, uint64_t length)
      : o_(o), user_id_(user_id), offset_(offset), length_(length), data_(length) {}

  // The slice's bytes; false with a reason in error.
  bool run() {
    s_ = connect_to(o_.port);
    if (s_ < 0) return fail("connect failed");
    if (!send_frame(kTcpCheckHave, check_have_body(user_id_, o_.fid, 0))) return fail("send failed");
    while (!answered_)
      if (!pump()) return fail("no Check_Have answer");
    if (answer_result_ != 0) return fail("Check_Have refused");
    const uint64_t first = offset_ / kBlockBytes, last = (offset_ + length_ - 1) / kBlockBytes;
    for (uint64_t b = first; b <= last; b += o_.piece_blocks) todo_.push_back({b, std::min<uint64_t>(b + o_.piece_blocks - 1, last)});
    while (received_ < length_) {
      while (!todo_.empty() && int(outstanding_.size()) < o_.window) {
        const auto piece = todo_.front();
        todo_.erase(todo_.begin());
        const uint32_t id = next_id_++;
        outstanding_[id] = piece;
        if (!send_frame(kTcpReqData, req_data_body(id, {{uint32_t(piece.first), uint32_t(piece.second)}})))
          return fail("send failed");
      }
      if (!pump()) return fail("connection ended");
    }
    close(s_);
    return true;
  }
  const std::vector<uint8_t>& data() const { return data_; }
  std::string error;
  int back_offs = 0;

 private:
  bool fail(const char* why) {
    error = why;
    if (s_ >= 0) close(s_);
    s_ = -1;
    return false;
  }
  bool send_frame(uint16_t command, const std::vector<uint8_t>& body) {
    tcp_frame f;
    f.new_frame(command, random_header_length());
    f.append(body.data(), body.size());
    out_.pack(f);
    return send_all(s_, f.data(), f.size());
  }
  bool pump() {
    const ssize_t n = recv(s_, buffer_, sizeof buffer_, 0);
    if (n <= 0) return false;
    return unpack(buffer_, size_t(n)) == 0;
  }
  void on_frame(uint16_t command, const uint8_t* body, uint32_t length) override {
    if (command == kTcpCheckHaveAnswer) {
      CheckHaveAnswer a;
      answered_ = true;
      answer_result_ = parse_check_have_answer(body, length, a) == PeerError::kNone ? a.result : 0xFFFF;
      return;
    }
    if (command == kTcpBackOff && length == 8) {
      ++back_offs;
      const uint32_t ms = load_u32le(body + 4);
      std::this_thread::sleep_for(std::chrono::milliseconds(std::min<uint32_t>(ms, 2000)));
      for (auto& [id, piece] : outstanding_) todo_.push_back(piece);
      outstanding_.clear();
      return;
    }
    if (command != kTcpBlockData || length < kBlockFrameHead) return;
    const uint64_t block = load_u32le(body);
    const uint32_t n = uint32_t(body[4] | body[5] << 8);
    if (kBlockFrameHead + n != length) return;
    const uint64_t at = block * kBlockBytes;
    // Only the slice's bytes, each counted once.
    const uint64_t from = std::max(at, offset_), to = std::min(at + n, offset_ + length_);
    if (from < to && got_.emplace(block, true).second) {
      std::memcpy(data_.data() + (from - offset_), body + kBlockFrameHead + (from - at), size_t(to - from));
      received_ += to - from;
    }
    for (auto it = outstanding_.begin(); it != outstanding_.end();) {
      const uint64_t piece_end = std::min((it->second.second + 1) * kBlockBytes, offset_ + length_);
      if (at + n >= piece_end && block <= it->second.second && block >= it->second.first)
        it = outstanding_.erase(it);
      else
        ++it;
    }
  }

  const options& o_;
  uint64_t user_id_, offset_, length_;
  std::vector<uint8_t> data_;
  int s_ = -1;
  DataOutPacking out_;
  uint8_t buffer_[1 << 18];
  bool answered_ = false;
  uint16_t answer_result_ = 0;
  std::vector<std::pair<uint64_t, uint64_t>> todo_;
  std::map<uint32_t, std::pair<uint64_t, uint64_t>> outstanding_;
  std::map<uint64_t, bool> got_;
  uint64_t received_ = 0;
  uint32_t next_id_ = 1;
};

std::string md5_hex(const uint8_t* p, size_t n) {
  md5_context c;
  md5_init(&c);
  md5_update(&c, p, n);
  uint8_t d[16];
  md5_final(&c, d);
  char out[33];
  for (int i = 0; i < 16; ++i) snprintf(out + 2 * i, 3, "%02X", d[i]);
  return out;
}

int run_tcp(const options& o) {
  std::vector<std::unique_ptr<tcp_download>> peers;
  for (int i = 0; i < o.peers; ++i) {
    uint64_t offset = 0, length = o.size;
    if (!o.whole) {
      // Slices start on a block so every peer asks whole pieces.
      const uint64_t blocks = (o.size + kBlockBytes - 1) / kBlockBytes;
      const uint64_t b0 = blocks * i / o.peers, b1 = blocks * (i + 1) / o.peers;
      offset = b0 * kBlockBytes;
      length = std::min<uint64_t>(b1 * kBlockBytes, o.size) - offset;
    }
    peers.push_back(std::make_unique<tcp_download>(o, o.user_id + i, offset, length));
  }
  std::vector<std::thread> threads;
  std::atomic<int> failed{0};
  const double start = now_s();
  for (auto& p : peers)
    threads.emplace_back([&p, &failed] {
      if (!p->run()) ++failed;
    });
  for (std::thread& t : threads) t.join();
  const double seconds = now_s() - start;
  uint64_t bytes = 0;
  int back_offs = 0;
  for (auto& p : peers) {
    bytes += p->data().size();
    back_offs += p->back_offs;
    if (!p->error.empty()) fprintf(stderr, "peer: %s\n", p->error.c_str());
  }
  printf("mode=tcp peers=%d bytes=%llu seconds=%.3f mbps=%.1f back_offs=%d failed=%d", o.peers,
         (unsigned long long)bytes, seconds, bytes / seconds / 1e6, back_offs, int(failed));
  if (o.md5 && o.peers == 1) printf(" md5=%s", md5_hex(peers[0]->data().data(), peers[0]->data().size()).c_str());
  int mismatch = 0;
  if (!o.compare.empty()) {
    FILE* f = fopen(o.compare.c_str(), "rb");
    std::vector<uint8_t> expected;
    if (f) {
      expected.resize(o.size);
      if (fread(expected.data(), 1, o.size, f) != o.size) expected.clear();
      fclose(f);
    }
    uint64_t offset = 0;
    for (int i = 0; i < o.peers; ++i) {
      const std::vector<uint8_t>& d = peers[size_t(i)]->data();
      if (!o.whole) {
        const uint64_t blocks = (o.size + kBlockBytes - 1) / kBlockBytes;
        offset = blocks * i / o.peers * kBlockBytes;
      }
      if (expected.empty() || offset + d.size() > expected.size() ||
          std::memcmp(d.data(), expected.data() + offset, d.size()) != 0)
        ++mismatch;
    }
    printf(" mismatched=%d", mismatch);
  }
  printf("\n");
  return failed || mismatch ? 1 : 0;
}

// ---- UDP peer

struct udp_result {
  uint64_t blocks = 0;
  uint64_t wrong = 0;
  uint64_t timed_out = 0;  // requests not answered whole within 200 ms
};

void udp_peer(const options& o, int port, uint64_t user_id, double until, udp_result* out) {
  const int s = socket(AF_INET, SOCK_DGRAM, 0);
  int big = 8 << 20;
  setsockopt(s, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
  sockaddr_in me = {};
  me.sin_family = AF_INET;
  me.sin_port = htons(uint16_t(port));
  me.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(s, reinterpret_cast<sockaddr*>(&me), sizeof me) != 0) {
    fprintf(stderr, "bind %d failed\n", port);
    close(s);
    return;
  }
  sockaddr_in core = me;
  core.sin_port = htons(uint16_t(o.port));
  const uint64_t blocks = (o.size + kBlockBytes - 1) / kBlockBytes;
  uint64_t next = 0;
  uint32_t sequence = 0;
  struct request {
    double sent;
    uint32_t left;
  };
  std::map<uint64_t, request> in_flight;  // first block -> when sent, blocks still missing
  uint8_t buffer[2048];
  while (now_s() < until) {
    const double t = now_s();
    for (auto it = in_flight.begin(); it != in_flight.end();) {
      if (t - it->second.sent <= 0.2) {
        ++it;
        continue;
      }
      ++out->timed_out;
      it = in_flight.erase(it);
    }
    while (int(in_flight.size()) < o.window) {
      uint32_t req[16];
      const uint64_t first = next;
      for (int i = 0; i < 16; ++i) req[i] = uint32_t((next + i) % blocks);
      next = (next + 16) % blocks;
      std::vector<uint8_t> body = get_file_data_body(o.fid, user_id, 0x11, 0, req, 16);
      std::vector<uint8_t> d = build_command_packet(user_id, ++sequence, body.data(), body.size());
      if (o.wrapped) {
        const uint8_t pad[3] = {7, 7, 7};
        d = wrap_outer(d, pad, 3);
      }
      sendto(s, d.data(), d.size(), 0, reinterpret_cast<sockaddr*>(&core), sizeof core);
      in_flight[first] = {now_s(), 16};
    }
    pollfd p = {s, POLLIN, 0};
    if (poll(&p, 1, 20) <= 0) continue;
    for (;;) {
      const ssize_t n = recv(s, buffer, sizeof buffer, MSG_DONTWAIT);
      if (n <= 0) break;
      UdpChecked c = check_datagram(buffer, size_t(n));
      if (c.result != UdpCheck::kData) continue;
      BlockPacket b;
      if (parse_block_packet(c.packet, c.length, b) != PeerError::kNone || std::memcmp(b.file_hash, o.fid, 16) != 0) {
        ++out->wrong;
        continue;
      }
      ++out->blocks;
      for (auto& [first, r] : in_flight)
        if (b.block >= first && b.block < first + 16 && r.left && --r.left == 0) {
          in_flight.erase(first);
          break;
        }
    }
  }
  close(s);
}

int run_udp(const options& o) {
  std::vector<udp_result> results(o.ports.size());
  std::vector<std::thread> threads;
  const double start = now_s(), until = start + o.seconds;
  for (size_t i = 0; i < o.ports.size(); ++i)
    threads.emplace_back(udp_peer, std::cref(o), o.ports[i], o.user_id + i, until, &results[i]);
  for (std::thread& t : threads) t.join();
  const double seconds = now_s() - start;
  uint64_t blocks = 0, wrong = 0, timed_out = 0;
  for (const udp_result& r : results) {
    blocks += r.blocks;
    wrong += r.wrong;
    timed_out += r.timed_out;
  }
  printf("mode=udp peers=%zu blocks=%llu seconds=%.3f blocks_per_s=%.0f timed_out=%llu wrong=%llu\n", o.ports.size(),
         (unsigned long long)blocks, seconds, blocks / seconds, (unsigned long long)timed_out, (unsigned long long)wrong);
  return wrong ? 1 : 0;
}

// ---- references: HTTP ranges and raw streams

uint64_t http_slice(const options& o, uint64_t offset, uint64_t length) {
  const int s = connect_to(o.port);
  if (s < 0) return 0;
  char request[512];
  snprintf(request, sizeof request, "GET %s HTTP/1.1\r\nHost: 127.0.0.1\r\nRange: bytes=%llu-%llu\r\nConnection: close\r\n\r\n",
           o.path.c_str(), (unsigned long long)offset, (unsigned long long)(offset + length - 1));
  send_all(s, reinterpret_cast<const uint8_t*>(request), strlen(request));
  static thread_local uint8_t buffer[1 << 18];
  uint64_t total = 0;
  bool body = false;
  std::string head;
  for (;;) {
    const ssize_t n = recv(s, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    if (body) {
      total += uint64_t(n);
      continue;
    }
    head.append(reinterpret_cast<char*>(buffer), size_t(n));
    const size_t end = head.find("\r\n\r\n");
    if (end != std::string::npos) {
      body = true;
      total += head.size() - end - 4;
    }
  }
  close(s);
  return total;
}

uint64_t raw_stream(const options& o) {
  const int s = connect_to(o.port);
  if (s < 0) return 0;
  static thread_local uint8_t buffer[1 << 18];
  uint64_t total = 0;
  for (;;) {
    const ssize_t n = recv(s, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    total += uint64_t(n);
  }
  close(s);
  return total;
}

// The plain RC4 sender's stream: the client's work per byte is a Req_data
// peer's (receive, decipher, copy into place), without the frames.
uint64_t rc4_stream(const options& o) {
  const int s = connect_to(o.port);
  if (s < 0) return 0;
  static thread_local uint8_t buffer[1 << 18];
  std::vector<uint8_t> slice(size_t(o.size / uint64_t(o.peers) + 1));
  uint8_t seed[4];
  size_t have = 0;
  while (have < sizeof seed) {
    const ssize_t n = recv(s, seed + have, sizeof seed - have, 0);
    if (n <= 0) break;
    have += size_t(n);
  }
  Rc4State cipher;
  stream_cipher_init(cipher, load_u32le(seed));
  uint64_t total = 0;
  for (;;) {
    const ssize_t n = recv(s, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    rc4_apply(cipher, buffer, size_t(n));
    if (total < slice.size()) std::memcpy(slice.data() + total, buffer, std::min<size_t>(size_t(n), slice.size() - total));
    total += uint64_t(n);
  }
  close(s);
  return total;
}

int run_reference(const options& o) {
  std::vector<uint64_t> got(size_t(o.peers));
  std::vector<std::thread> threads;
  const double start = now_s();
  for (int i = 0; i < o.peers; ++i)
    threads.emplace_back([&o, &got, i] {
      const uint64_t b0 = o.size * i / o.peers, b1 = o.size * (i + 1) / o.peers;
      got[size_t(i)] = o.mode == "http" ? http_slice(o, b0, b1 - b0) : o.mode == "rc4" ? rc4_stream(o) : raw_stream(o);
    });
  for (std::thread& t : threads) t.join();
  const double seconds = now_s() - start;
  uint64_t bytes = 0;
  for (uint64_t g : got) bytes += g;
  printf("mode=%s peers=%d bytes=%llu seconds=%.3f mbps=%.1f\n", o.mode.c_str(), o.peers, (unsigned long long)bytes,
         seconds, bytes / seconds / 1e6);
  return 0;
}

bool parse_hex16(const char* hex, uint8_t out[16]) {
  if (strlen(hex) != 32) return false;
  for (int i = 0; i < 16; ++i) {
    unsigned v = 0;
    if (sscanf(hex + 2 * i, "%2x", &v) != 1) return false;
    out[i] = uint8_t(v);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: %s tcp|udp|http|raw --port P ...\n", argv[0]);
    return 2;
  }
  options o;
  o.mode = argv[1];
  for (int i = 2; i < argc; ++i) {
    const std::string a = argv[i];
    const char* v = i + 1 < argc ? argv[i + 1] : "";
    if (a == "--port") o.port = atoi(v), ++i;
    else if (a == "--fid") {
      if (!parse_hex16(v, o.fid)) return fprintf(stderr, "bad fid\n"), 2;
      ++i;
    } else if (a == "--size") o.size = strtoull(v, nullptr, 10), ++i;
    else if (a == "--peers") o.peers = std::max(1, atoi(v)), ++i;
    else if (a == "--whole") o.whole = true;
    else if (a == "--piece-blocks") o.piece_blocks = uint32_t(std::max(1, atoi(v))), ++i;
    else if (a == "--window") o.window = std::max(1, atoi(v)), ++i;
    else if (a == "--user-id") o.user_id = strtoull(v, nullptr, 10), ++i;
    else if (a == "--md5") o.md5 = true;
    else if (a == "--compare") o.compare = v, ++i;
    else if (a == "--seconds") o.seconds = atof(v), ++i;
    else if (a == "--wrapped") o.wrapped = true;
    else if (a == "--path") o.path = v, ++i;
    else if (a == "--ports") {
      for (const char* p = v; *p;) {
        o.ports.push_back(atoi(p));
        const char* comma = strchr(p, ',');
        if (!comma) break;
        p = comma + 1;
      }
      ++i;
    } else {
      fprintf(stderr, "unknown option %s\n", a.c_str());
      return 2;
    }
  }
  if (o.mode == "tcp") return run_tcp(o);
  if (o.mode == "udp") return run_udp(o);
  if (o.mode == "http" || o.mode == "raw" || o.mode == "rc4") return run_reference(o);
  fprintf(stderr, "unknown mode %s\n", o.mode.c_str());
  return 2;
}
