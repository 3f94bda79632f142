// The two network clients the publish task calls: the lookup service
// ("summary_query?key=fid&fid=") and the p2s command server
// ("commit?cmd=finfo"). Start-up sets the HTTP clients of the server in
// "P2SCfg.ini"; a task without clients answers as an unreachable server.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "server/http/codec/http_codes.h"

struct LookupReply {
  std::string qid;  // 40 hex digits when known
  std::string cid;
  int64_t size = 0;
  int status = 0;  // the HTTP status of the answer; 0 when none came
};

class ILookupClient {
 public:
  virtual ~ILookupClient() = default;
  // Asks for the other ids of a file by its FID (32 hex digits). Ends within
  // timeoutMs, or as soon as cancel is signalled. 0 on an accepted reply,
  // else a negative error code.
  virtual int Query(const std::string& fidHex, HANDLE cancel, DWORD timeoutMs, LookupReply* reply) = 0;
};

struct ReportRequest {
  std::string fidHex;
  std::vector<uint8_t> pieceDigests;  // 16 bytes per piece; may be empty
  uint64_t size = 0;
  std::string link;  // the normalised FTP link; empty for none
};

class IReportClient {
 public:
  virtual ~IReportClient() = default;
  // Sends one file's information with up to tries attempts of timeoutMs each,
  // all within deadlineMs, ending early when cancel is signalled. Returns
  // true when the request loop completed; *error is the client's error code
  // (0 when the server accepted the report).
  virtual bool Send(const ReportRequest& request, HANDLE cancel, DWORD timeoutMs, int tries, DWORD deadlineMs,
                    int* error) = 0;
};

// The clients of a server that cannot be reached.
ILookupClient& UnreachableLookupClient();
IReportClient& UnreachableReportClient();
// CMapsClient and CP2SClient, each made anew per request, so that each reads
// "P2SCfg.ini" and keeps its own server address.
ILookupClient& HttpLookupClient();
IReportClient& HttpReportClient();
