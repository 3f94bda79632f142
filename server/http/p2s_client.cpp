// The p2s command client.
#include "server/http/p2s_client.h"

#include "foundation/text/share_link.h"
#include "foundation/util/code_pages.h"

CP2SClient::CP2SClient() : CP2SClient(LoadP2sServer(kBuiltInP2sHost)) {}

CP2SClient::CP2SClient(const P2sServer& server) : server_(server) {}

void CP2SClient::SetFileInfo(const std::string& fidHex, const std::vector<uint8_t>& digests, uint64_t size,
                             uint64_t third) {
  info_.Set(fidHex, digests, size, third);
}

void CP2SClient::AddUrl(const p2s::URL& entry) { info_.AddUrl(entry); }

int CP2SClient::Post(const char* path, uint8_t kind, std::unique_ptr<Comm::BaseCommandValue> value) {
  p2s::P2SCommand command(kind, std::move(value));
  const std::string url = MakeServerUrl(server_, path);
  if (url.empty() || !command.Build()) {
    SendRequest("POST", std::string(), nullptr, 0);
    return kHttpEmptyUrl;
  }
  return SendRequest("POST", url, command.Packet().data(), command.Packet().size());
}

int CP2SClient::CommitFileInfo() {
  auto value = std::make_unique<p2s::P2SSetValue>();
  value->info = info_;
  return Post("commit?cmd=finfo", p2s::kSetValue, std::move(value));
}

int CP2SClient::QueryByUrl(const std::string& url) {
  // A share link of our own scheme names its file by fid: ask by that.
  ShareLinkFields link;
  if (GetUrlScheme(url) == kUrlSchemeShareLink && ParseShareLink(url, &link, SystemLinkTextEnv()))
    return QueryByFid(link.id);
  auto value = std::make_unique<p2s::P2SGetValue>();
  value->form = 0;
  value->key.assign(url.begin(), url.end());
  return Post("query?cmd=url2finfo", p2s::kGetByKey, std::move(value));
}

int CP2SClient::QueryByFid(const std::string& fidHex) {
  auto value = std::make_unique<p2s::P2SGetValue>();
  value->form = 1;
  value->key = p2s::BytesOfHex(fidHex);
  return Post("query?cmd=fid2finfo", p2s::kGetByHexKey, std::move(value));
}

int CP2SClient::ValidateUrl(const std::string& first, const std::string& second) {
  auto value = std::make_unique<p2s::P2SValidUrl>();
  value->first.assign(first.begin(), first.end());
  value->second.assign(second.begin(), second.end());
  return Post("query?cmd=validurl", p2s::kValidUrl, std::move(value));
}

int CP2SClient::Request(HANDLE cancel, DWORD timeoutMs, int tries, DWORD deadlineMs) {
  attempts_ = 0;
  const ULONGLONG deadline = GetTickCount64() + deadlineMs;
  for (int t = 0; t < tries; ++t) {
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline) break;
    ++attempts_;
    Run(cancel, timeoutMs, DWORD(deadline - now));
    Close();
    if (!cancel || WaitForSingleObject(cancel, 0) == WAIT_OBJECT_0) return 0;
    if (Result() == kHttpOk) return 1;
    if (!HttpCodeRetries(Result())) return 0;
  }
  return 0;
}

void CP2SClient::OnResponse(const uint8_t* body, size_t length) {
  p2s::FileInfo reply = info_;
  const int code = p2s::ReadReply(body, length, &reply);
  if (code == kHttpOk) info_ = std::move(reply);
  SetResult(code);
}
