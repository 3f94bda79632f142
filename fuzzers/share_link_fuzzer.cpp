// Fuzz target: a share link ("vxhd://size|id|name", or "qepxp://" with the
// fields or their Base64) as a user pastes it. The input is the link, or
// its fields wrapped here in Base64 so that the decoded form is reached.
// A parsed link has its id, a size and a name that is safe as a file name.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>

#include "foundation/text/base64.h"
#include "foundation/text/share_link.h"
#include "foundation/text/tests/fake_code_page.h"
#include "fuzzers/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const bool wrap = in.ConsumeBool();
  const uint32_t locales[] = {2052, 1028, 3076};
  const LinkTextEnv env = fake_cp::Env(locales[in.ConsumeIntegralInRange(0, 2)]);
  std::string link = in.ConsumeRemainingBytesAsString();
  if (wrap) link = "qepxp://" + Base64EncodeText("vxhd://" + link);

  ShareLinkFields f;
  f.name = "stale";
  if (!ParseShareLink(link, &f, env)) {
    FUZZ_CHECK(f.id.empty() && f.size == 0 && f.name.empty());
    return 0;
  }
  FUZZ_CHECK(f.id.size() == 32 && f.size != 0);
  // Nothing a file name cannot hold, nothing that cuts it short; read as
  // characters, so that the trail byte of a double-byte character counts
  // as part of it.
  std::u16string chars = env.ansi.toUtf16(f.name);
  if (chars.empty()) chars.assign(f.name.begin(), f.name.end());
  for (char16_t c : chars) {
    FUZZ_CHECK(c >= 0x20);
    FUZZ_CHECK(std::u16string_view(u"\"\\/*:<>?|").find(c) == std::u16string_view::npos);
  }
  return 0;
}
