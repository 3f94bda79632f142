// The channel client's entry points, answered from the script.
#include "ui/client/tests/fake_channel.h"

#include "foundation/channel/tcp_channel.h"

FakeChannel& Fake() {
  static FakeChannel fake;
  return fake;
}

std::vector<uint8_t> StatusReply(uint16_t status, std::vector<uint8_t> payload) {
  payload.insert(payload.begin(), {static_cast<uint8_t>(status), static_cast<uint8_t>(status >> 8)});
  return payload;
}

std::vector<uint8_t> Utf16Field(std::u16string_view text, size_t bytes) {
  std::vector<uint8_t> field(bytes, 0);
  for (size_t i = 0; i < text.size() && 2 * i + 1 < bytes; ++i) {
    field[2 * i] = static_cast<uint8_t>(text[i]);
    field[2 * i + 1] = static_cast<uint8_t>(text[i] >> 8);
  }
  return field;
}

int TcpClientConnect(const char* address, uint16_t port) {
  Fake().connectedAddress = address;
  Fake().connectedPort = port;
  return Fake().connectResult;
}

int TcpClientClose() { return 0; }

int TcpClientSendCmd(CByteBuffer* request, CByteBuffer* reply, uint32_t /*timeoutMs*/) {
  return TcpClientSendCmd(request, reply);
}

int TcpClientSendCmd(CByteBuffer* request, CByteBuffer* reply) {
  FakeChannel& fake = Fake();
  fake.requests.emplace_back(request->Data(), request->Data() + request->Length());
  FakeExchange next;
  if (!fake.script.empty()) {
    next = fake.script.front();
    fake.script.pop_front();
  } else if (fake.answer) {
    next = fake.answer(fake.requests.back());
  } else {
    return kChannelNotConnected;
  }
  if (next.transport != 0) return next.transport;
  if (!next.reply.empty()) reply->Append(next.reply.data(), static_cast<uint32_t>(next.reply.size()));
  return 0;
}
