// Tallyhub.dll stand-in: the statistics-report class that Seedlift and
// OrchardSvc call. A C++ class crosses this DLL boundary, so its layout is
// kept to one pointer to state the DLL allocates and frees itself; callers
// built with the same compiler see the same size (one pointer) and the same
// exported member functions.
#pragma once
#include <cstdint>

#ifdef TALLYHUB_BUILDING
#define TALLYHUB_API __declspec(dllexport)
#else
#define TALLYHUB_API __declspec(dllimport)
#endif

class TALLYHUB_API CTallyhub {
 public:
  // Any text may be null.
  CTallyhub(const char* product, const char* version, const char* kind, const char* category);
  // Sends what was added since the last report.
  ~CTallyhub();
  static void SetServer(const char* host, unsigned short port);
  void StatAdd(uint64_t id, uint64_t value);
  void StatAdd(uint64_t id, const uint8_t digest[16]);
  void StatAdd(uint64_t id, const void* bytes, uint32_t length);
  void SendReport();

 private:
  CTallyhub(const CTallyhub&) = delete;
  CTallyhub& operator=(const CTallyhub&) = delete;
  void* state_;
};

// Where the stand-in appends its reports: the file named by the environment
// variable TALLYHUB_REPORT_FILE, else "tallyhub_reports.txt" beside the
// program. One line per report:
//   report product=P version=V kind=K category=C server=H:P id=u64:N id=md5:HEX id=bytes:HEX ...
