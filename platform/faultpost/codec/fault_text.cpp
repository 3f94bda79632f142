// faultpost's report text. Platform-free.
#include "platform/faultpost/codec/fault_text.h"

#include <cstdio>

#include "foundation/text/utf8_text.h"

namespace {

void Hex(std::string& out, const char* key, uint32_t value) {
  char line[64];
  std::snprintf(line, sizeof line, "%s=0x%08X\n", key, static_cast<unsigned>(value));
  out += line;
}

void Decimal(std::string& out, const char* key, uint32_t value) {
  char line[64];
  std::snprintf(line, sizeof line, "%s=%u\n", key, static_cast<unsigned>(value));
  out += line;
}

std::string OneLine(std::u16string_view text) {
  std::string utf8 = Utf16ToUtf8(text);
  std::string out;
  out.reserve(utf8.size());
  for (char c : utf8) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", u);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

std::string FormatFaultText(const VXExceptionContext& record, std::u16string_view sharedMemoryName) {
  std::string out = "faultpost crash report\n";
  out += "shared_memory=" + OneLine(sharedMemoryName) + "\n";
  Hex(out, "exception_code", record.exceptionCode);
  Hex(out, "exception_address", record.exceptionAddress);
  Hex(out, "exception_pointers", record.exceptionPointers);
  Decimal(out, "process_id", record.processId);
  Decimal(out, "thread_id", record.threadId);
  out += "command_line=" + OneLine(CrashCommandLine(record)) + "\n";

  const X86Context& c = record.context;
  const struct {
    const char* key;
    uint32_t value;
  } registers[] = {
      {"context_flags", c.contextFlags},
      {"eax", c.eax}, {"ebx", c.ebx}, {"ecx", c.ecx}, {"edx", c.edx}, {"esi", c.esi}, {"edi", c.edi},
      {"ebp", c.ebp}, {"esp", c.esp}, {"eip", c.eip}, {"eflags", c.eflags},
      {"cs", c.segCs}, {"ds", c.segDs}, {"es", c.segEs}, {"fs", c.segFs}, {"gs", c.segGs}, {"ss", c.segSs},
      {"dr0", c.dr0}, {"dr1", c.dr1}, {"dr2", c.dr2}, {"dr3", c.dr3}, {"dr6", c.dr6}, {"dr7", c.dr7},
      {"fpu_control", c.floatSave.controlWord}, {"fpu_status", c.floatSave.statusWord},
      {"fpu_tag", c.floatSave.tagWord},
  };
  for (const auto& r : registers) Hex(out, r.key, r.value);
  return out;
}

std::u16string FaultTextFileName(std::u16string_view sharedMemoryName) {
  std::u16string name;
  for (char16_t c : sharedMemoryName) {
    bool plain = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'_' ||
                 c == u'-';
    name.push_back(plain ? c : u'_');
  }
  if (name.empty()) name = u"faultpost";
  return name + u".txt";
}
