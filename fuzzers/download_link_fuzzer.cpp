// Fuzz target: download links as a user pastes them ("thunder:", "qqdl:",
// "qedpxp://" wrappers, share links, http and ftp URLs, anything). The input
// is the text, or a link wrapped here the way each wrapper carries it, so
// that the unwrapped forms are reached. A refused text comes back empty; an
// accepted one that is no share link comes back with a plain ASCII path
// (an http or ftp URL keeps its host and credentials as they were).
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>

#include "foundation/text/base64.h"
#include "foundation/text/download_link.h"
#include "foundation/text/tests/fake_code_page.h"
#include "foundation/text/url_parse.h"
#include "fuzzers/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const int wrapper = in.ConsumeIntegralInRange(0, 3);
  const LinkTextEnv env = fake_cp::Env(in.ConsumeBool() ? 2052 : 1028);
  std::string text = in.ConsumeRemainingBytesAsString();
  switch (wrapper) {
    case 1: text = "thunder://" + Base64EncodeText("AA" + text + "ZZ"); break;
    case 2: text = "qqdl://" + Base64EncodeText(text); break;
    case 3: text = "qedpxp://" + Base64EncodeText("1234567" + text + "[QEDPXP]"); break;
    default: break;
  }

  if (!DecodeDownloadLink(text, env)) {
    FUZZ_CHECK(text.empty());
    return 0;
  }
  FUZZ_CHECK(!text.empty());
  const uint32_t scheme = GetUrlScheme(text);
  if (scheme != kUrlSchemeShareLink) {
    size_t encodedFrom = 0;
    if (scheme == kUrlSchemeHttp || scheme == kUrlSchemeFtp) {
      encodedFrom = text.find('/', text.find("://") + 3);
      if (encodedFrom == std::string::npos) encodedFrom = text.size();
    }
    for (size_t i = encodedFrom; i < text.size(); ++i) FUZZ_CHECK(uint8_t(text[i]) < 0x80);
  }
  return 0;
}
