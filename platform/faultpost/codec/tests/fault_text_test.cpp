// faultpost's text: every field of the record on its own line, values that
// cannot break a line, and file names that stay in their folder.
#include "platform/faultpost/codec/fault_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <sstream>

namespace {

std::map<std::string, std::string> Fields(const std::string& text) {
  std::map<std::string, std::string> fields;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    size_t eq = line.find('=');
    if (eq != std::string::npos) fields[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return fields;
}

VXExceptionContext SampleRecord() {
  VXExceptionContext record;
  std::memset(&record, 0, sizeof record);
  record.exceptionCode = 0xC0000005;
  record.exceptionAddress = 0x40001234;
  record.exceptionPointers = 0x0022FE10;
  record.processId = 4660;
  record.threadId = 301;
  record.context.contextFlags = kX86ContextAll;
  record.context.eax = 0x11111111;
  record.context.edi = 0x66666666;
  record.context.eip = 0x40001234;
  record.context.segCs = 0x33;
  record.context.floatSave.tagWord = 0xFFFF;
  SetCrashCommandLine(record, u"\"Z:\\tmp\\OrchardSvc.exe\" /start");
  return record;
}

}  // namespace

TEST(FaultText, OneLinePerField) {
  std::map<std::string, std::string> f = Fields(FormatFaultText(SampleRecord(), u"vodedorozuv_4660"));
  struct Row {
    const char* key;
    const char* value;
  };
  const Row rows[] = {
      {"shared_memory", "vodedorozuv_4660"},
      {"exception_code", "0xC0000005"},
      {"exception_address", "0x40001234"},
      {"exception_pointers", "0x0022FE10"},
      {"process_id", "4660"},
      {"thread_id", "301"},
      {"command_line", "\"Z:\\tmp\\OrchardSvc.exe\" /start"},
      {"context_flags", "0x0001003F"},
      {"eax", "0x11111111"},
      {"edi", "0x66666666"},
      {"ebx", "0x00000000"},
      {"eip", "0x40001234"},
      {"cs", "0x00000033"},
      {"fpu_tag", "0x0000FFFF"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.key);
    ASSERT_EQ(f.count(row.key), 1u);
    EXPECT_EQ(f[row.key], row.value);
  }
}

TEST(FaultText, ValuesNeverBreakTheirLine) {
  struct Row {
    const char* name;
    std::u16string commandLine;
    std::string shown;
  };
  const Row rows[] = {
      {"line breaks and a tab", u"a\r\nb\tc", "a\\x0D\\x0Ab\\x09c"},
      {"Chinese text stays UTF-8", u"\u53d1\u5e03 x", "\xE5\x8F\x91\xE5\xB8\x83 x"},
      {"lone surrogate", std::u16string(1, char16_t(0xD800)) + u"z", "\xEF\xBF\xBDz"},
      {"delete character", u"a\x7F", "a\\x7F"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    VXExceptionContext record = SampleRecord();
    SetCrashCommandLine(record, row.commandLine);
    std::string text = FormatFaultText(record, u"vodedorozuv_1\nx=1");
    std::map<std::string, std::string> f = Fields(text);
    EXPECT_EQ(f["command_line"], row.shown);
    EXPECT_EQ(f["shared_memory"], "vodedorozuv_1\\x0Ax=1");
    EXPECT_EQ(f.count("x"), 0u) << "a name must not add a field";
  }
}

TEST(FaultText, UnterminatedCommandLineShowsAll4096Units) {
  VXExceptionContext record = SampleRecord();
  for (uint16_t& unit : record.commandLine) unit = u'q';
  std::map<std::string, std::string> f = Fields(FormatFaultText(record, u"m"));
  EXPECT_EQ(f["command_line"], std::string(kCrashCommandLineUnits, 'q'));
}

TEST(FaultText, FileNameStaysInItsFolder) {
  struct Row {
    std::u16string name;
    std::u16string file;
  };
  const Row rows[] = {
      {u"vodedorozuv_4660", u"vodedorozuv_4660.txt"},
      {u"..\\..\\windows\\x", u"______windows_x.txt"},
      {u"C:/a:b", u"C__a_b.txt"},
      {u"", u"faultpost.txt"},
      {u"\u53d1", u"_.txt"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << "row with " << row.name.size() << " units");
    EXPECT_EQ(FaultTextFileName(row.name), row.file);
  }
}
