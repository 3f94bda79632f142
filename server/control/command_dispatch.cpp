// OnTransferCommand: decode the code, dispatch through the command table.
#include "server/control/command_dispatch.h"

#include "server/control/command_table.h"

void OnTransferCommand(CByteBuffer* request, CByteBuffer* reply) {
  if (!request || !reply) return;
  const uint8_t* body = request->Data();
  uint32_t length = request->Length();
  // A code cut short reads as zero, like any read past the end of a body.
  uint16_t code = length >= 2 ? static_cast<uint16_t>(body[0] | (body[1] << 8)) : 0;
  if (code == 0 || code > kLastControlCommand) return;
  const CommandEntry* entry = FindCommand(code);
  if (!entry || !entry->handler) return;
  CommandArgs args{length > 2 ? body + 2 : nullptr, length > 2 ? length - 2 : 0};
  entry->handler(args, reply);
}
