// The publish task's network clients: the HTTP lookup and report clients,
// and the stand-ins of a server that cannot be reached.
#include "server/publish/publish_task_clients.h"

#include "server/http/codec/p2s_records.h"
#include "server/http/maps_client.h"
#include "server/http/p2s_client.h"

namespace {

class CUnreachableLookup : public ILookupClient {
 public:
  int Query(const std::string&, HANDLE, DWORD, LookupReply* reply) override {
    if (reply) *reply = LookupReply();
    return kHttpNoConnection;
  }
};

class CUnreachableReport : public IReportClient {
 public:
  bool Send(const ReportRequest&, HANDLE, DWORD, int, DWORD, int* error) override {
    if (error) *error = kHttpNoConnection;
    return false;
  }
};

class CHttpLookup : public ILookupClient {
 public:
  int Query(const std::string& fidHex, HANDLE cancel, DWORD timeoutMs, LookupReply* reply) override {
    CMapsClient client;
    client.QueryByFid(fidHex);
    // The whole exchange, not only each step, ends within the time-out.
    client.Execute(cancel, timeoutMs, timeoutMs);
    if (reply) {
      reply->qid = client.Qid();
      reply->cid = client.Cid();
      reply->size = int64_t(client.Size());
      reply->status = client.ResponseStatus();
    }
    return client.Result();
  }
};

class CHttpReport : public IReportClient {
 public:
  bool Send(const ReportRequest& request, HANDLE cancel, DWORD timeoutMs, int tries, DWORD deadlineMs,
            int* error) override {
    CP2SClient client;
    client.SetFileInfo(request.fidHex, request.pieceDigests, request.size, 0);
    if (!request.link.empty()) client.AddUrl(p2s::MakeLinkEntry(request.link));
    client.CommitFileInfo();
    const int ok = client.Request(cancel, timeoutMs, tries, deadlineMs);
    if (error) *error = client.Result();
    return ok == 1;
  }
};

}  // namespace

ILookupClient& UnreachableLookupClient() {
  static CUnreachableLookup client;
  return client;
}

IReportClient& UnreachableReportClient() {
  static CUnreachableReport client;
  return client;
}

ILookupClient& HttpLookupClient() {
  static CHttpLookup client;
  return client;
}

IReportClient& HttpReportClient() {
  static CHttpReport client;
  return client;
}
