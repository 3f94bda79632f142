// Fuzz target: faultpost's reading of a crash record from shared memory of
// any size and content, under a memory name of any units: the text keeps one
// field a line and the report's file name stays in its folder.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <vector>

#include "fuzzers/fuzz_check.h"
#include "monitor/crash/codec/crash_record.h"
#include "platform/faultpost/codec/fault_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const size_t nameUnits = in.ConsumeIntegralInRange<size_t>(0, 64);
  const std::vector<uint8_t> nameBytes = in.ConsumeBytes<uint8_t>(nameUnits * 2);
  std::u16string name;
  for (size_t i = 0; i + 1 < nameBytes.size(); i += 2) name.push_back(char16_t(nameBytes[i] | (nameBytes[i + 1] << 8)));
  // The memory: an exactly sized copy, so the sanitizer sees any read past it.
  const std::vector<uint8_t> memory = in.ConsumeRemainingBytes<uint8_t>();

  VXExceptionContext record;
  const bool read = ReadCrashRecord(memory.data(), memory.size(), &record);
  FUZZ_CHECK(read == (memory.size() >= kCrashRecordSize));
  if (read) {
    FUZZ_CHECK(CrashCommandLine(record).size() <= kCrashCommandLineUnits);
    const std::string text = FormatFaultText(record, name);
    size_t lines = 0, start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1, ++lines) {
      const std::string line = text.substr(start, end - start);
      FUZZ_CHECK(lines == 0 || line.find('=') != std::string::npos);
      FUZZ_CHECK(line.find('\r') == std::string::npos);
    }
    FUZZ_CHECK(start == text.size());  // ends with its last line's break
    FUZZ_CHECK(lines == 34);           // the heading and 33 fields, whatever the values
  }

  const std::u16string file = FaultTextFileName(name);
  FUZZ_CHECK(file.size() >= 5 && file.compare(file.size() - 4, 4, u".txt") == 0);
  for (size_t i = 0; i + 4 < file.size(); ++i) {
    const char16_t c = file[i];
    FUZZ_CHECK((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'_' ||
               c == u'-');
  }
  return 0;
}
