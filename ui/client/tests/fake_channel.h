// A scripted stand-in of the channel client for in-process tests: it records
// each request body and answers with the next scripted reply.
#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

struct FakeExchange {
  int transport = 0;           // what the send returns
  std::vector<uint8_t> reply;  // the reply body on success
};

struct FakeChannel {
  std::deque<FakeExchange> script;
  // Answers a request once the script is used up, as a server that is always
  // there would; without it such a request finds no connection.
  std::function<FakeExchange(const std::vector<uint8_t>& request)> answer;
  std::vector<std::vector<uint8_t>> requests;
  int connectResult = 0;
  std::string connectedAddress;
  uint16_t connectedPort = 0;
};

FakeChannel& Fake();
// A reply body: the status, then `payload`.
std::vector<uint8_t> StatusReply(uint16_t status, std::vector<uint8_t> payload = {});
// A zero-filled field of `bytes` holding `text` as UTF-16LE.
std::vector<uint8_t> Utf16Field(std::u16string_view text, size_t bytes);
