// Test aid: a TCP stream receiver that keeps every frame it is handed, for
// the unit tests and the fuzz targets of the stream. Platform-free.
#pragma once
#include <cstdint>
#include <vector>

#include "p2pcore/wire/tcp_stream.h"

namespace p2p_test {

struct Frame {
  uint16_t command;
  std::vector<uint8_t> body;
  bool operator==(const Frame& o) const { return command == o.command && body == o.body; }
};

class Collector : public p2p::DataInPacking {
 public:
  std::vector<Frame> frames;

 protected:
  void on_frame(uint16_t command, const uint8_t* body, uint32_t length) override {
    frames.push_back({command, std::vector<uint8_t>(body, body + length)});
  }
};

}  // namespace p2p_test
