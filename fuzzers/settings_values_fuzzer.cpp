// Fuzz target: the values of the upload core's settings file "P2PCfg.ini"
// as the file source hands them over (numbers and texts of any kind), and
// the value parsers behind them (user id, dotted addresses). Whatever the
// file holds, the record stays within its clamps; a parsed value written
// back as text parses to itself.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>

#include "foundation/text/address_text.h"
#include "fuzzers/fuzz_check.h"
#include "p2pcore/codec/settings_values.h"
#include "p2pcore/codec/texts.h"

using namespace p2p;

namespace {

// A settings file whose keys hold what the input says, or are missing.
class FuzzedSource : public settings_source {
 public:
  explicit FuzzedSource(FuzzedDataProvider& in) : in_(in) {}
  int get_int(const char*, const char*, int fallback) override {
    return in_.ConsumeBool() ? in_.ConsumeIntegral<int>() : fallback;
  }
  std::string get_text(const char*, const char*, const char* fallback) override {
    return in_.ConsumeBool() ? in_.ConsumeRandomLengthString(40) : std::string(fallback);
  }

 private:
  FuzzedDataProvider& in_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const std::string text = in.ConsumeRandomLengthString(40);

  const uint64_t id = parse_user_id(text);
  if (id != 0) FUZZ_CHECK(user_id_text(id) == text.substr(text.find_first_not_of('0')));
  FUZZ_CHECK(parse_user_id(user_id_text(id)) == id);

  uint32_t address = 0;
  if (parse_ipv4(text, &address)) {
    uint32_t again = 0;
    const uint8_t bytes[4] = {uint8_t(address >> 24), uint8_t(address >> 16), uint8_t(address >> 8), uint8_t(address)};
    const std::string dotted = std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + "." +
                               std::to_string(bytes[2]) + "." + std::to_string(bytes[3]);
    FUZZ_CHECK(parse_ipv4(dotted, &again) && again == address);
    FUZZ_CHECK(AddressClass(bytes) >= 0 && AddressClass(bytes) <= 2);
  }
  IsUsableAddressText(text);

  FuzzedSource source(in);
  p2p_settings s;
  s.bw_u_limit_kb = in.ConsumeBool() ? 0 : 64;
  const int kept = s.bw_u_limit_kb;
  read_settings(source, s);
  FUZZ_CHECK(s.upload_thread_count >= 0 && s.upload_thread_count <= kMaxUploadThreads);
  FUZZ_CHECK(s.upload_user_max > 0);
  if (kept != 0) FUZZ_CHECK(s.bw_u_limit_kb == kept);
  const int threshold = log_threshold_for(s.debug);
  FUZZ_CHECK(threshold == 1 || threshold == 2 || threshold == 10);
  return 0;
}
