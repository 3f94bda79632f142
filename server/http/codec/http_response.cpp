// The response reader of the HTTP clients.
#include "server/http/codec/http_response.h"

#include "foundation/text/ascii_case.h"

namespace {
std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}
}  // namespace

void HttpResponseReader::Reset() {
  state_ = kReading;
  expected_ = 0;
  head_.clear();
  body_.clear();
}

int32_t HttpResponseReader::ContentLength(std::string_view head) {
  int32_t found = -1;
  while (!head.empty()) {
    const size_t end = head.find('\n');
    const std::string_view line = head.substr(0, end);
    head = end == std::string_view::npos ? std::string_view() : head.substr(end + 1);
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos || !EqualsNoCase(line.substr(0, colon), "Content-Length")) continue;
    const std::string_view digits = Trim(line.substr(colon + 1));
    if (digits.empty()) return -1;
    int64_t value = 0;
    for (char c : digits) {
      if (c < '0' || c > '9') return -1;
      value = value * 10 + (c - '0');
      if (value > kMaxBodyLength) return -1;  // also keeps a long run of digits from overflowing
    }
    if (found >= 0 && found != int32_t(value)) return -1;
    found = int32_t(value);
  }
  return found;
}

int HttpResponseReader::StatusCode(std::string_view head) {
  const std::string_view line = head.substr(0, head.find('\n'));
  if (line.substr(0, 5) != "HTTP/") return 0;
  const size_t blank = line.find(' ');
  if (blank == std::string_view::npos || line.size() < blank + 4) return 0;
  const std::string_view digits = line.substr(blank + 1, 3);
  if (line.size() > blank + 4 && line[blank + 4] != ' ') return 0;
  int code = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return 0;
    code = code * 10 + (c - '0');
  }
  return code >= 100 ? code : 0;
}

void HttpResponseReader::EndHead() {
  const int32_t length = ContentLength(head_);
  if (length <= 0) {
    expected_ = -1;
    state_ = kMalformed;
    return;
  }
  expected_ = length;
  body_.reserve(size_t(length));
}

HttpResponseReader::State HttpResponseReader::Feed(const uint8_t* data, size_t n) {
  if (!data) n = 0;
  size_t i = 0;
  for (; i < n && state_ == kReading && expected_ == 0; ++i) {
    const char c = char(data[i]);
    if (c == '\r') continue;
    if (head_.size() > kMaxHeadText) {
      expected_ = -1;
      state_ = kMalformed;
      break;
    }
    if (c == '\n' && !head_.empty() && head_.back() == '\n') {
      EndHead();
      continue;
    }
    head_.push_back(c);
  }
  if (state_ == kReading && expected_ > 0 && i < n) {
    const size_t want = size_t(expected_) - body_.size();
    const size_t take = n - i < want ? n - i : want;
    body_.insert(body_.end(), data + i, data + i + take);
    i += take;
    if (body_.size() == size_t(expected_)) state_ = kComplete;
  }
  return state_;
}
