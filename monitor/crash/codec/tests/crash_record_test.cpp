// The crash record: where each register lands in the 32-bit slot, the
// command line's cut, and reading records out of short and random bytes.
#include "monitor/crash/codec/crash_record.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

namespace {

uint32_t U32At(const void* base, size_t offset) {
  const uint8_t* p = static_cast<const uint8_t*>(base) + offset;
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Registers whose every field differs, with high halves that must not show.
Amd64Registers SampleRegisters() {
  Amd64Registers r{};
  r.rax = 0xAAAA0000'11111111;
  r.rbx = 0xBBBB0000'22222222;
  r.rcx = 0xCCCC0000'33333333;
  r.rdx = 0xDDDD0000'44444444;
  r.rsi = 0x51510000'55555555;
  r.rdi = 0xD1D10000'66666666;
  r.rbp = 0xB0B00000'77777777;
  r.rsp = 0x5B5B0000'88888888;
  r.rip = 0x00000001'40001234;
  r.eflags = 0x10246;
  r.segCs = 0x33;
  r.segDs = 0x2B;
  r.segEs = 0x2C;
  r.segFs = 0x53;
  r.segGs = 0x2D;
  r.segSs = 0x2E;
  r.dr0 = 0x1'00000010;
  r.dr1 = 0x20;
  r.dr2 = 0x30;
  r.dr3 = 0x40;
  r.dr6 = 0xFFFF0FF0;
  r.dr7 = 0x400;
  for (size_t i = 0; i < sizeof r.fxsave; ++i) r.fxsave[i] = static_cast<uint8_t>(i * 7 + 1);
  return r;
}

}  // namespace

TEST(CrashRecord, RegistersLandAtTheirOffsetsOfTheX86Context) {
  const Amd64Registers r = SampleRegisters();
  X86Context slot;
  std::memset(&slot, 0xEE, sizeof slot);
  FillX86Context(slot, r);
  struct Row {
    const char* name;
    size_t offset;
    uint32_t expected;
  };
  const Row rows[] = {
      {"ContextFlags", 0x00, 0x0001003F},
      {"Dr0 low half", 0x04, 0x10},
      {"Dr1", 0x08, 0x20},
      {"Dr2", 0x0C, 0x30},
      {"Dr3", 0x10, 0x40},
      {"Dr6", 0x14, 0xFFFF0FF0},
      {"Dr7", 0x18, 0x400},
      {"SegGs", 0x8C, 0x2D},
      {"SegFs", 0x90, 0x53},
      {"SegEs", 0x94, 0x2C},
      {"SegDs", 0x98, 0x2B},
      {"Edi", 0x9C, 0x66666666},
      {"Esi", 0xA0, 0x55555555},
      {"Ebx", 0xA4, 0x22222222},
      {"Edx", 0xA8, 0x44444444},
      {"Ecx", 0xAC, 0x33333333},
      {"Eax", 0xB0, 0x11111111},
      {"Ebp", 0xB4, 0x77777777},
      {"Eip low half", 0xB8, 0x40001234},
      {"SegCs", 0xBC, 0x33},
      {"EFlags", 0xC0, 0x10246},
      {"Esp", 0xC4, 0x88888888},
      {"SegSs", 0xC8, 0x2E},
      // FNSAVE words out of the FXSAVE image: control 0x0801, status 0x160F.
      {"FloatSave.ControlWord", 0x1C, 0x0801},
      {"FloatSave.StatusWord", 0x20, 0x160F},
      // Abridged tag 0x1D (registers 0, 2, 3, 4 in use): empty ones get 11.
      {"FloatSave.TagWord", 0x24, 0xFC0C},
      {"FloatSave.ErrorOffset (FIP)", 0x28, U32At(r.fxsave, 8)},
      {"FloatSave.ErrorSelector (FCS, opcode)", 0x2C,
       (r.fxsave[12] | (r.fxsave[13] << 8)) | (((r.fxsave[6] | (r.fxsave[7] << 8)) & 0x7FFu) << 16)},
      {"FloatSave.DataOffset (FDP)", 0x30, U32At(r.fxsave, 16)},
      {"FloatSave.DataSelector (FDS)", 0x34, static_cast<uint32_t>(r.fxsave[20] | (r.fxsave[21] << 8))},
      {"FloatSave.Cr0NpxState", 0x88, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(U32At(&slot, row.offset), row.expected) << std::hex;
  }
}

TEST(CrashRecord, X87RegistersAreCutToTenBytesAndTheImageIsCopiedWhole) {
  const Amd64Registers r = SampleRegisters();
  X86Context slot;
  FillX86Context(slot, r);
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&slot);
  for (size_t i = 0; i < 8; ++i) {
    SCOPED_TRACE(testing::Message() << "ST(" << i << ")");
    EXPECT_EQ(0, std::memcmp(bytes + 0x1C + 28 + i * 10, r.fxsave + 32 + i * 16, 10));
  }
  EXPECT_EQ(0, std::memcmp(bytes + 0xCC, r.fxsave, 512));
}

TEST(CrashRecord, CommandLineKeepsAtMost4095UnitsAndATerminator) {
  struct Row {
    const char* name;
    size_t length;
    size_t kept;
  };
  const Row rows[] = {
      {"empty", 0, 0},     {"short", 12, 12},         {"4094 units", 4094, 4094},
      {"4095 units", 4095, 4095}, {"4096 units", 4096, 4095}, {"5000 units", 5000, 4095},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::u16string text;
    for (size_t i = 0; i < row.length; ++i) text.push_back(static_cast<char16_t>(u'a' + i % 26));
    VXExceptionContext record;
    std::memset(&record, 0x5A, sizeof record);
    SetCrashCommandLine(record, text);
    EXPECT_EQ(CrashCommandLine(record), text.substr(0, row.kept));
    for (size_t i = row.kept; i < kCrashCommandLineUnits; ++i) {
      ASSERT_EQ(record.commandLine[i], 0) << "unit " << i << " is not cleared";
    }
  }
}

TEST(CrashRecord, ReadsTheFieldsAtTheirOffsets) {
  std::vector<uint8_t> bytes(kCrashRecordSize, 0);
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  put32(4, 0x00401000);
  put32(8, 0x0012FF40);
  put32(12, 0xC0000005);
  put32(16, 4660);
  put32(20, 77);
  put32(24 + 0xB0, 0x11111111);
  const char16_t line[] = u"\"C:\\Orchard\\OrchardSvc.exe\" /start";
  for (size_t i = 0; line[i] != 0; ++i) {
    bytes[740 + 2 * i] = static_cast<uint8_t>(line[i]);
    bytes[741 + 2 * i] = static_cast<uint8_t>(line[i] >> 8);
  }
  VXExceptionContext record;
  ASSERT_TRUE(ReadCrashRecord(bytes.data(), bytes.size(), &record));
  EXPECT_EQ(record.exceptionAddress, 0x00401000u);
  EXPECT_EQ(record.exceptionPointers, 0x0012FF40u);
  EXPECT_EQ(record.exceptionCode, 0xC0000005u);
  EXPECT_EQ(record.processId, 4660u);
  EXPECT_EQ(record.threadId, 77u);
  EXPECT_EQ(record.context.eax, 0x11111111u);
  EXPECT_EQ(CrashCommandLine(record), std::u16string(line));
}

TEST(CrashRecord, ReaderTakesAnyBytes) {
  std::mt19937 random(15);
  struct Row {
    const char* name;
    size_t size;
    bool read;
  };
  const Row rows[] = {
      {"nothing", 0, false},
      {"one byte short", kCrashRecordSize - 1, false},
      {"exactly a record", kCrashRecordSize, true},
      {"a page more", kCrashRecordSize + 4096, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<uint8_t> bytes(row.size);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(random() | 1);  // no zero unit: no terminator anywhere
    VXExceptionContext record;
    ASSERT_EQ(ReadCrashRecord(bytes.data(), bytes.size(), &record), row.read);
    if (row.read) {
      EXPECT_EQ(CrashCommandLine(record).size(), kCrashCommandLineUnits);
    }
  }
  EXPECT_FALSE(ReadCrashRecord(nullptr, kCrashRecordSize, nullptr));
}
