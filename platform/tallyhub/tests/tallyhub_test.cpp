// The Tallyhub stand-in records each report with its texts, server and statistics.
#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <sstream>
#include <string>

#include "platform/tallyhub/tallyhub.h"

namespace {

std::string read_all(const char* path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(Tallyhub, ReportsGoToTheFile) {
  char path[MAX_PATH];
  GetTempPathA(MAX_PATH, path);
  std::string file = std::string(path) + "tallyhub_test_" + std::to_string(GetCurrentProcessId()) + ".txt";
  DeleteFileA(file.c_str());
  SetEnvironmentVariableA("TALLYHUB_REPORT_FILE", file.c_str());
  CTallyhub::SetServer("10.1.2.3", 9000);
  {
    CTallyhub empty("P", "1", "", "C");  // nothing added: no report on destruction
  }
  {
    CTallyhub r("ORCHARD", "1.0.3.36", "", "UDPCMD");
    r.StatAdd(5, uint64_t(7));
    r.SendReport();
    r.SendReport();  // an explicit report is written even when empty
    const uint8_t digest[16] = {0xAB};
    r.StatAdd(1539, digest);
    r.StatAdd(1540, "AB", 2);
  }  // destruction sends the pending two
  {
    CTallyhub nulls("OD_MAPS", nullptr, "01", nullptr);
    nulls.StatAdd(1, uint64_t(1));
  }
  std::string got = read_all(file.c_str());
  EXPECT_EQ(got,
            "report product=ORCHARD version=1.0.3.36 kind= category=UDPCMD server=10.1.2.3:9000 5=u64:7\n"
            "report product=ORCHARD version=1.0.3.36 kind= category=UDPCMD server=10.1.2.3:9000\n"
            "report product=ORCHARD version=1.0.3.36 kind= category=UDPCMD server=10.1.2.3:9000 "
            "1539=md5:AB000000000000000000000000000000 1540=bytes:4142\n"
            "report product=OD_MAPS version= kind=01 category= server=10.1.2.3:9000 1=u64:1\n");
  EXPECT_EQ(sizeof(CTallyhub), sizeof(void*));
  DeleteFileA(file.c_str());
}

}  // namespace
