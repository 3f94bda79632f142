// CP2SClient: posts p2s command packets to the p2s command server of
// "P2SCfg.ini" and reads the reply packet. The report thread commits every
// published file's information with it ("commit?cmd=finfo").
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "server/http/codec/p2s_packet.h"
#include "server/http/p2s_settings.h"
#include "server/http/p2s_socket.h"

class CP2SClient : public CP2SSocket {
 public:
  // The p2s server of "P2SCfg.ini" over the built-in one.
  CP2SClient();
  explicit CP2SClient(const P2sServer& server);

  // The file's information ("F" from the hex text, "Z", "T", "H" where given).
  void SetFileInfo(const std::string& fidHex, const std::vector<uint8_t>& digests, uint64_t size, uint64_t third);
  // Replaces an entry with the same "U" bytes or "I" text, else appends to "C".
  void AddUrl(const p2s::URL& entry);
  const p2s::FileInfo& FileInfo() const { return info_; }

  // Each prepares a POST (-4 when there is no URL or the packet cannot be
  // built, else 0); Request sends it.
  int CommitFileInfo();                                      // "commit?cmd=finfo", kind 3
  int QueryByUrl(const std::string& url);                    // "query?cmd=url2finfo", kind 1
  int QueryByFid(const std::string& fidHex);                 // "query?cmd=fid2finfo", kind 2
  int ValidateUrl(const std::string& first, const std::string& second);  // "query?cmd=validurl", kind 4

  // Up to `tries` exchanges, all within deadlineMs: 1 when one ended with
  // result 0. A missing or signalled cancel event ends the loop, as do an
  // accepted reply and the server's refusals; transport failures and
  // unreadable replies try again.
  int Request(HANDLE cancel, DWORD timeoutMs, int tries, DWORD deadlineMs);
  // Exchanges made by the last Request.
  int Attempts() const { return attempts_; }

 protected:
  void OnResponse(const uint8_t* body, size_t length) override;

 private:
  int Post(const char* path, uint8_t kind, std::unique_ptr<Comm::BaseCommandValue> value);

  P2sServer server_;
  p2s::FileInfo info_;
  int attempts_ = 0;
};
