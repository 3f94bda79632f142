// The lookup client.
#include "server/http/maps_client.h"

#include "server/http/codec/lookup_reply.h"

CMapsClient::CMapsClient() : CMapsClient(LoadP2sServer(kBuiltInLookupHost)) {}

CMapsClient::CMapsClient(const P2sServer& server) : server_(server) {}

int CMapsClient::Query(const char* key, const std::string& id) {
  fid_.clear(), qid_.clear(), cid_.clear();
  size_ = 0;
  const std::string path = std::string("summary_query?key=") + key + "&" + key + "=" + id;
  return SendRequest("GET", MakeServerUrl(server_, path), nullptr, 0);
}

int CMapsClient::QueryByFid(const std::string& fid) { return Query("fid", fid); }
int CMapsClient::QueryByQid(const std::string& qid) { return Query("qid", qid); }
int CMapsClient::QueryByCid(const std::string& cid) { return Query("cid", cid); }

void CMapsClient::AddCommitEntry(const std::string& fid, const std::string& qid, const std::string& cid,
                                 uint64_t size) {
  commits_.push_back({fid, qid, cid, size});
}

int CMapsClient::Commit() {
  std::string body = "content=";
  for (const CommitEntry& e : commits_)
    body += "fid:" + e.fid + "|qid:" + e.qid + "|cid:" + e.cid + "|size:" + std::to_string(int64_t(e.size)) + "\n";
  return SendRequest("GET", MakeServerUrl(server_, "summary_commit?"), reinterpret_cast<const uint8_t*>(body.data()),
                     body.size());
}

void CMapsClient::OnResponse(const uint8_t* body, size_t length) {
  const LookupReplyFields fields = ParseLookupReply(body, length);
  fid_ = fields.fid;
  qid_ = fields.qid;
  cid_ = fields.cid;
  size_ = fields.size;
  SetResult(kHttpOk);
}
