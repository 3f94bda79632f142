// Random bytes into the link and URL parsers: they must never read out of
// bounds (the sanitizers watch) and what they accept must be well formed.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "foundation/text/base64.h"
#include "foundation/text/download_link.h"
#include "foundation/text/share_link.h"
#include "foundation/text/tests/fake_code_page.h"
#include "foundation/text/url_parse.h"

namespace {

std::string RandomText(std::mt19937& rng) {
  static const char* const kPrefixes[] = {"", "vxhd://", "qepxp://", "thunder://", "thunder:", "qqdl://",
                                          "qedpxp://", "http://", "ftp://", "mms://", "HTTP://"};
  static const char kBiased[] = "|%@:/\\?&[]QEDPXPZZAa0+= \r\n";
  std::string t = kPrefixes[rng() % (sizeof kPrefixes / sizeof *kPrefixes)];
  const size_t n = rng() % 160;
  for (size_t i = 0; i < n; ++i) {
    t.push_back(rng() % 2 ? static_cast<char>(rng() % 256) : kBiased[rng() % (sizeof kBiased - 1)]);
  }
  // Some share links with the right shape and a random name.
  if (rng() % 4 == 0) {
    std::string id;
    for (int k = 0; k < 32; ++k) id.push_back(static_cast<char>(rng() % 256));
    t = "vxhd://" + std::to_string(rng() % 3) + "|" + id + "|" + t;
    if (rng() % 3 == 0) t = "qepxp://" + Base64EncodeText(t);
    return t;
  }
  // Wrap some in Base64 so the wrappers decode to something worth parsing.
  if (rng() % 4 == 0) t = std::string(rng() % 2 ? "thunder://" : "qedpxp://") + Base64EncodeText("AA1234567" + t);
  return t;
}

}  // namespace

TEST(LinkFuzz, RandomBytesNeverBreakTheParsers) {
  std::mt19937 rng(20261210);
  const LinkTextEnv envs[] = {fake_cp::Env(2052), fake_cp::Env(1028)};
  for (int i = 0; i < 30000; ++i) {
    const std::string text = RandomText(rng);
    const LinkTextEnv& env = envs[i % 2];

    UrlParts parts;
    if (ParseUrl(text, &parts)) {
      ASSERT_FALSE(parts.path.empty()) << i;
      ASSERT_EQ(parts.path[0], '/') << i;
      ASSERT_LE(parts.port, 65535u) << i;
    }

    ShareLinkFields fields;
    if (ParseShareLink(text, &fields, env)) {
      ASSERT_EQ(fields.id.size(), 32u) << i;
      ASSERT_NE(fields.size, 0u) << i;
      ASSERT_EQ(fields.name.find_first_of("\"\\/*:<>?|\r\n"), std::string::npos) << i;
    }

    std::string link = text;
    if (!DecodeDownloadLink(link, env)) {
      ASSERT_TRUE(link.empty()) << i;
    } else {
      ASSERT_FALSE(link.empty()) << i;
    }
  }
}
