// The control commands the server answers, as a table keyed by command code.
// A subsystem adds a command with one row in command_table.cpp and its
// handler in a file of its own.
#pragma once
#include <cstdint>

#include "foundation/codec/byte_buffer.h"
#include "foundation/codec/stream_reader.h"
#include "server/control/codec/control_records.h"

// Gets the request positioned after the command code (a read past the end
// yields zeros) and writes the reply body; leaving it empty sends an empty reply.
using CommandFn = void (*)(CStreamReader& request, CByteBuffer* reply);

struct CommandEntry {
  ControlCommand code;
  CommandFn handler;
};

// The entry for a code, or null for codes the server does not answer.
const CommandEntry* FindCommand(uint16_t code);

// Every row, for checks over the whole table.
const CommandEntry* CommandTableBegin();
const CommandEntry* CommandTableEnd();
