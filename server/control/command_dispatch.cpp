// OnTransferCommand: decode the code, dispatch through the command table.
#include "server/control/command_dispatch.h"

#include "server/control/codec/command_gate.h"
#include "server/control/command_table.h"

namespace {
CommandGate& Gate() {
  // Never freed: a command left running at exit still leaves through it.
  static CommandGate* gate = new CommandGate;
  return *gate;
}
}  // namespace

bool CloseCommands(unsigned ms) { return Gate().Close(ms); }

void OnTransferCommand(CByteBuffer* request, CByteBuffer* reply) {
  if (!request || !reply) return;
  CStreamReader in(request->Data(), request->Length());
  uint16_t code = in.ReadUInt16();  // a body too short for it reads as code 0
  if (code == 0 || code > kLastControlCommand) return;
  const CommandEntry* entry = FindCommand(code);
  if (!entry || !entry->handler) return;
  if (!Gate().Enter()) return;  // stopping: answered empty, like an unknown code
  entry->handler(in, reply);
  Gate().Leave();
}
