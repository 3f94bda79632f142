// HttpResponseReader: takes a response to one request byte by byte as it
// arrives and says when its body is complete. The status line is not
// examined; the body is framed by "Content-Length" alone. Platform-free.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class HttpResponseReader {
 public:
  // The head text (status and header lines without carriage returns) may
  // hold this much before its final line feed.
  static constexpr size_t kMaxHeadText = 2048;
  // The largest body accepted.
  static constexpr int32_t kMaxBodyLength = 0x500000;

  enum State {
    kReading,    // more bytes are needed
    kComplete,   // Body() holds exactly the announced length
    kMalformed,  // head too long, its length missing, zero, too large or not a number
  };

  void Reset();
  // Takes the next received block. Once the state is no longer kReading the
  // reader ignores further bytes: whatever follows the announced body (a
  // stray line break, say) is not part of the response.
  State Feed(const uint8_t* data, size_t n);
  State state() const { return state_; }

  // 0 while the head is read, -1 when malformed, else "Content-Length".
  int32_t ExpectedLength() const { return expected_; }
  const std::string& HeadText() const { return head_; }
  const std::vector<uint8_t>& Body() const { return body_; }

  // The decimal value of "Content-Length" in a head text; -1 when the header
  // is missing, repeated with another value, or its value is not digits
  // only (after trimming blanks) or exceeds kMaxBodyLength.
  static int32_t ContentLength(std::string_view head);
  // The status code of a head text's first line "HTTP/x.y NNN ...": three
  // digits from 100 to 999; 0 when the line has no such code.
  static int StatusCode(std::string_view head);

 private:
  void EndHead();

  State state_ = kReading;
  int32_t expected_ = 0;
  std::string head_;
  std::vector<uint8_t> body_;
};
