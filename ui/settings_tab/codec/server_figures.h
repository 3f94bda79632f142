// The texts of the server information and status pages, made from the
// blocks of commands 69, 81, 82, 83 and 117: which control shows which
// figure. Platform-free.
#pragma once
#include <string>
#include <vector>

#include "ui/client/codec/control_records.h"

struct FieldText {
  int control;
  std::u16string text;
};

// Information page: the node id, public address and counts of the poll's
// block (command 81); the memory and disk figures of command 83.
std::vector<FieldText> ServerInfoTexts(const ServerInfoBlock& info);
std::vector<FieldText> PerformanceTexts(const PerformanceBlock& performance);
// What the information page shows while no server is connected (the state
// text aside, which comes from the string table).
std::vector<FieldText> DisconnectedInfoTexts();
// The operating-system and processor texts of command 82, each at most 64 units.
std::u16string SystemOsText(const SystemInfoBlock& system);
std::u16string SystemCpuText(const SystemInfoBlock& system);

// Status page: its texts before the first answer, the FTP figures of command
// 69 and the P2P figures of command 117. Counters are 64-bit throughout.
std::vector<FieldText> StatusStartTexts();
std::vector<FieldText> FtpStatusTexts(const FtpStatistics& ftp);
std::vector<FieldText> P2pStatusTexts(const P2pTotals& totals, const P2pStatBlock& block);
