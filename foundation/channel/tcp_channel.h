// The control channel's flat entry points: the only way the rest of the
// system uses the transport. OrchardSvc runs the server half, OrchardUI the
// client half.
#pragma once
#include <cstdint>

#include "foundation/codec/byte_buffer.h"

// Called on the channel's scheduler thread with the plain request body and an
// empty reply that the handler appends to. The server owns and frees both.
using CommandHandler = void (*)(CByteBuffer* request, CByteBuffer* reply);

enum : int {
  kChannelOk = 0,
  kChannelNotConnected = 1,
  kChannelSocketError = 2,
  kChannelChecksumMismatch = 32,
  kChannelStartSocketFailed = 16,
  kChannelStartThreadFailed = 17,
};

constexpr uint32_t kChannelStepTimeoutMs = 3000;

int TcpServerStart(const char* address, uint32_t port, CommandHandler handler);
int TcpServerStop();

int TcpClientConnect(const char* address, uint16_t port);
int TcpClientClose();
// The body send and the reply-body receive take the caller's deadline.
int TcpClientSendCmd(CByteBuffer* request, CByteBuffer* reply, uint32_t timeoutMs);
// OrchardUI's form: every step has the fixed 3000 ms deadline.
int TcpClientSendCmd(CByteBuffer* request, CByteBuffer* reply);
