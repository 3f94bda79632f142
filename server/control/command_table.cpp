// The table of control commands: one row per command code the server answers.
#include "server/control/command_table.h"

#include "server/control/server_commands.h"

namespace {

const CommandEntry kCommands[] = {
    {ControlCommand::GetServerInfo, OnGetServerInfo},
    {ControlCommand::GetSystemInfo, OnGetSystemInfo},
    {ControlCommand::GetPerformance, OnGetPerformance},
    {ControlCommand::CloseServer, OnCloseServer},
};

}  // namespace

const CommandEntry* FindCommand(uint16_t code) {
  for (const CommandEntry& e : kCommands)
    if (static_cast<uint16_t>(e.code) == code) return &e;
  return nullptr;
}

const CommandEntry* CommandTableBegin() { return kCommands; }
const CommandEntry* CommandTableEnd() { return kCommands + sizeof kCommands / sizeof kCommands[0]; }
