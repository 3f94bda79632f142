// The crash record: filling the 32-bit register slot, the command line, and
// reading a record back. Platform-free.
#include "monitor/crash/codec/crash_record.h"

#include <cstring>

namespace {

uint16_t Load16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Load32(const uint8_t* p) { return Load16(p) | (static_cast<uint32_t>(Load16(p + 2)) << 16); }

// Offsets in the FXSAVE image.
constexpr size_t kFxControl = 0, kFxStatus = 2, kFxTag = 4, kFxOpcode = 6, kFxInstruction = 8, kFxCodeSegment = 12,
                 kFxData = 16, kFxDataSegment = 20, kFxRegisters = 32, kFxRegisterSlot = 16;
constexpr size_t kX87RegisterBytes = 10;

// One abridged tag bit per register (1 in use) to two bits per register
// (00 valid, 11 empty). Zero and special values are not told apart: telling
// them needs the register's contents, and valid is what a reader cares for.
uint32_t FullTagWord(uint8_t abridged) {
  uint32_t tag = 0;
  for (int i = 0; i < 8; ++i) {
    if ((abridged & (1u << i)) == 0) tag |= 3u << (2 * i);
  }
  return tag;
}

}  // namespace

void FillX86Context(X86Context& slot, const Amd64Registers& r) {
  std::memset(&slot, 0, sizeof slot);
  slot.contextFlags = kX86ContextAll;
  slot.dr0 = LowAddress(r.dr0);
  slot.dr1 = LowAddress(r.dr1);
  slot.dr2 = LowAddress(r.dr2);
  slot.dr3 = LowAddress(r.dr3);
  slot.dr6 = LowAddress(r.dr6);
  slot.dr7 = LowAddress(r.dr7);

  const uint8_t* fx = r.fxsave;
  X86FloatSave& f = slot.floatSave;
  f.controlWord = Load16(fx + kFxControl);
  f.statusWord = Load16(fx + kFxStatus);
  f.tagWord = FullTagWord(fx[kFxTag]);
  f.errorOffset = Load32(fx + kFxInstruction);
  f.errorSelector = Load16(fx + kFxCodeSegment) | (static_cast<uint32_t>(Load16(fx + kFxOpcode) & 0x7FF) << 16);
  f.dataOffset = Load32(fx + kFxData);
  f.dataSelector = Load16(fx + kFxDataSegment);
  for (size_t i = 0; i < 8; ++i) {
    std::memcpy(f.registerArea + i * kX87RegisterBytes, fx + kFxRegisters + i * kFxRegisterSlot, kX87RegisterBytes);
  }

  slot.segGs = r.segGs;
  slot.segFs = r.segFs;
  slot.segEs = r.segEs;
  slot.segDs = r.segDs;
  slot.edi = LowAddress(r.rdi);
  slot.esi = LowAddress(r.rsi);
  slot.ebx = LowAddress(r.rbx);
  slot.edx = LowAddress(r.rdx);
  slot.ecx = LowAddress(r.rcx);
  slot.eax = LowAddress(r.rax);
  slot.ebp = LowAddress(r.rbp);
  slot.eip = LowAddress(r.rip);
  slot.segCs = r.segCs;
  slot.eflags = r.eflags;
  slot.esp = LowAddress(r.rsp);
  slot.segSs = r.segSs;
  std::memcpy(slot.extendedRegisters, r.fxsave, sizeof slot.extendedRegisters);
}

void SetCrashCommandLine(VXExceptionContext& record, std::u16string_view text) {
  std::memset(record.commandLine, 0, sizeof record.commandLine);
  size_t n = text.size() < kCrashCommandLineUnits - 1 ? text.size() : kCrashCommandLineUnits - 1;
  for (size_t i = 0; i < n; ++i) record.commandLine[i] = text[i];
}

std::u16string CrashCommandLine(const VXExceptionContext& record) {
  std::u16string text;
  for (size_t i = 0; i < kCrashCommandLineUnits && record.commandLine[i] != 0; ++i) {
    text.push_back(static_cast<char16_t>(record.commandLine[i]));
  }
  return text;
}

bool ReadCrashRecord(const uint8_t* data, size_t size, VXExceptionContext* record) {
  if (data == nullptr || record == nullptr || size < kCrashRecordSize) return false;
  std::memcpy(record, data, kCrashRecordSize);
  return true;
}
