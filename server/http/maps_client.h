// CMapsClient: asks the lookup service what it knows of a file by one of its
// content ids ("summary_query"), and submits id sets ("summary_commit").
// Every request is a GET to the server of "P2SCfg.ini".
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "server/http/p2s_settings.h"
#include "server/http/p2s_socket.h"

class CMapsClient : public CP2SSocket {
 public:
  // The lookup server of "P2SCfg.ini" over the built-in one.
  CMapsClient();
  explicit CMapsClient(const P2sServer& server);

  // Each prepares its request (-4 when there is no URL, else 0); the caller
  // then runs it with Execute.
  int QueryByFid(const std::string& fid);
  int QueryByQid(const std::string& qid);
  int QueryByCid(const std::string& cid);
  int Commit();
  void AddCommitEntry(const std::string& fid, const std::string& qid, const std::string& cid, uint64_t size);

  // The last reply's texts (upper case, empty unless a well-formed id came)
  // and size.
  const std::string& Fid() const { return fid_; }
  const std::string& Qid() const { return qid_; }
  const std::string& Cid() const { return cid_; }
  uint64_t Size() const { return size_; }

 protected:
  void OnResponse(const uint8_t* body, size_t length) override;

 private:
  struct CommitEntry {
    std::string fid, qid, cid;
    uint64_t size;
  };
  int Query(const char* key, const std::string& id);

  P2sServer server_;
  std::string fid_, qid_, cid_;
  uint64_t size_ = 0;
  std::vector<CommitEntry> commits_;
};
