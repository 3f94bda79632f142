// Fuzz target: the bytes an HTTP server answers the lookup and p2s clients
// with, arriving in blocks of any size (the first byte picks the block size).
// However they arrive, the reader ends in the same state; a complete body
// has exactly its announced length, within the limits of the head; the
// status code read from the head is 0 or three digits.
#include <cstdint>
#include <vector>

#include "fuzzers/fuzz_check.h"
#include "server/http/codec/http_response.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t block = data[0] % 64 + 1;
  const std::vector<uint8_t> bytes(data + 1, data + size);
  HttpResponseReader whole, split;
  const HttpResponseReader::State state = whole.Feed(bytes.data(), bytes.size());
  for (size_t at = 0; at < bytes.size(); at += block) {
    const size_t n = bytes.size() - at < block ? bytes.size() - at : block;
    const std::vector<uint8_t> piece(bytes.begin() + long(at), bytes.begin() + long(at + n));
    split.Feed(piece.data(), piece.size());
  }
  FUZZ_CHECK(split.state() == state);
  FUZZ_CHECK(whole.HeadText().size() <= HttpResponseReader::kMaxHeadText + 1);
  if (state == HttpResponseReader::kComplete) {
    FUZZ_CHECK(whole.ExpectedLength() > 0 && whole.ExpectedLength() <= HttpResponseReader::kMaxBodyLength);
    FUZZ_CHECK(whole.Body().size() == size_t(whole.ExpectedLength()));
    FUZZ_CHECK(whole.Body() == split.Body());
  }
  if (state == HttpResponseReader::kMalformed) FUZZ_CHECK(whole.ExpectedLength() == -1);
  const int status = HttpResponseReader::StatusCode(whole.HeadText());
  FUZZ_CHECK(status == 0 || (status >= 100 && status <= 999));
  FUZZ_CHECK(status == HttpResponseReader::StatusCode(split.HeadText()));
  return 0;
}
