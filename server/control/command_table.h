// The control commands the server answers, as a table keyed by command code.
// A subsystem adds a command with one row in command_table.cpp and its
// handler in a file of its own.
#pragma once
#include <cstdint>

#include "foundation/codec/byte_buffer.h"
#include "server/control/codec/control_records.h"

// The request's bytes after the command code (read them with CStreamReader:
// a read past the end yields zeros).
struct CommandArgs {
  const uint8_t* data;
  uint32_t size;
};

// Writes the reply body; leaving it empty sends an empty reply.
using CommandFn = void (*)(const CommandArgs& args, CByteBuffer* reply);

struct CommandEntry {
  ControlCommand code;
  CommandFn handler;
};

// The entry for a code, or null for codes the server does not answer.
const CommandEntry* FindCommand(uint16_t code);

// Every row, for checks over the whole table.
const CommandEntry* CommandTableBegin();
const CommandEntry* CommandTableEnd();
