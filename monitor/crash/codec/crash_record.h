// The crash record that a crashing program leaves in its named shared memory
// for the reporting program: its byte layout, filling it, and reading it back
// from any bytes. Platform-free.
#pragma once
#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

static_assert(std::endian::native == std::endian::little, "the record is copied as it lies in memory");

constexpr size_t kCrashRecordSize = 22324;
constexpr size_t kX86ContextSize = 716;
constexpr size_t kCrashCommandLineUnits = 4096;  // with the terminator

// CONTEXT_i386 with its control, integer, segment, floating-point, debug and
// extended parts: the flags of a slot filled by FillX86Context.
constexpr uint32_t kX86ContextAll = 0x0001003F;

#pragma pack(push, 1)
// The x87 state as FNSAVE leaves it (FLOATING_SAVE_AREA).
struct X86FloatSave {
  uint32_t controlWord;
  uint32_t statusWord;
  uint32_t tagWord;
  uint32_t errorOffset;
  uint32_t errorSelector;
  uint32_t dataOffset;
  uint32_t dataSelector;
  uint8_t registerArea[80];
  uint32_t cr0NpxState;
};

// A thread's registers in the 32-bit x86 CONTEXT layout of Windows.
struct X86Context {
  uint32_t contextFlags;
  uint32_t dr0, dr1, dr2, dr3, dr6, dr7;
  X86FloatSave floatSave;
  uint32_t segGs, segFs, segEs, segDs;
  uint32_t edi, esi, ebx, edx, ecx, eax;
  uint32_t ebp, eip, segCs, eflags, esp, segSs;
  uint8_t extendedRegisters[512];  // the FXSAVE area
};

// VXExceptionContext: the shared memory's contents.
struct VXExceptionContext {
  uint32_t reserved;
  uint32_t exceptionAddress;
  uint32_t exceptionPointers;  // valid in the crashed process only
  uint32_t exceptionCode;
  uint32_t processId;
  uint32_t threadId;
  X86Context context;
  uint16_t commandLine[kCrashCommandLineUnits];  // UTF-16, zero-terminated and zero-padded
  uint8_t reservedTail[13392];
};
#pragma pack(pop)

static_assert(sizeof(X86FloatSave) == 112);
static_assert(offsetof(X86Context, floatSave) == 0x1C);
static_assert(offsetof(X86Context, segGs) == 0x8C);
static_assert(offsetof(X86Context, edi) == 0x9C);
static_assert(offsetof(X86Context, eax) == 0xB0);
static_assert(offsetof(X86Context, ebp) == 0xB4);
static_assert(offsetof(X86Context, eip) == 0xB8);
static_assert(offsetof(X86Context, esp) == 0xC4);
static_assert(offsetof(X86Context, segSs) == 0xC8);
static_assert(offsetof(X86Context, extendedRegisters) == 0xCC);
static_assert(sizeof(X86Context) == kX86ContextSize);
static_assert(offsetof(VXExceptionContext, exceptionAddress) == 4);
static_assert(offsetof(VXExceptionContext, exceptionPointers) == 8);
static_assert(offsetof(VXExceptionContext, exceptionCode) == 12);
static_assert(offsetof(VXExceptionContext, processId) == 16);
static_assert(offsetof(VXExceptionContext, threadId) == 20);
static_assert(offsetof(VXExceptionContext, context) == 24);
static_assert(offsetof(VXExceptionContext, commandLine) == 740);
static_assert(offsetof(VXExceptionContext, reservedTail) == 8932);
static_assert(sizeof(VXExceptionContext) == kCrashRecordSize);

// The registers of an x86-64 thread that the 32-bit slot can carry. fxsave is
// the 512-byte FXSAVE image (XMM_SAVE_AREA32), in the layout the 32-bit form shares.
struct Amd64Registers {
  uint64_t rax, rbx, rcx, rdx, rsi, rdi, rbp, rsp, rip;
  uint32_t eflags;
  uint16_t segCs, segDs, segEs, segFs, segGs, segSs;
  uint64_t dr0, dr1, dr2, dr3, dr6, dr7;
  uint8_t fxsave[512];
};

// Fills the 716-byte slot from x86-64 registers: the general registers, the
// instruction and stack pointers and the debug registers keep their low 32
// bits; the segment registers and flags carry over; the x87 state becomes
// the FNSAVE form (registers cut from their 16-byte FXSAVE slots to 10 bytes,
// the abridged tag widened to two bits per register: valid or empty); the
// FXSAVE image is copied whole into the extended registers.
void FillX86Context(X86Context& slot, const Amd64Registers& registers);

// The low 32 bits of an x86-64 address, as the record's u32 fields hold it.
constexpr uint32_t LowAddress(uint64_t address) { return static_cast<uint32_t>(address); }

// Copies at most 4,095 units of the text and a terminator; the rest of the
// field becomes zero.
void SetCrashCommandLine(VXExceptionContext& record, std::u16string_view text);

// The command line up to its terminator, or all 4,096 units when it has none.
std::u16string CrashCommandLine(const VXExceptionContext& record);

// Reads a record out of bytes of any content. False when fewer than
// kCrashRecordSize bytes are given; bytes past the record are ignored.
bool ReadCrashRecord(const uint8_t* data, size_t size, VXExceptionContext* record);
