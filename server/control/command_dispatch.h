// OnTransferCommand: the control channel's command handler. It reads the
// command code, runs the command's handler and leaves the reply body in reply.
#pragma once
#include "foundation/codec/byte_buffer.h"

// Registered with TcpServerStart; runs on the channel's thread. A body too
// short for a code, code 0, codes above 131 and codes without a handler get
// an empty reply and do nothing.
void OnTransferCommand(CByteBuffer* request, CByteBuffer* reply);

// At the stop: no command starts from now on; waits up to ms for the one
// running. False when it is still running (then what it uses must be kept).
bool CloseCommands(unsigned ms);
