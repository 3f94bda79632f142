// Fuzz target: the byte-stream reader the server's command dispatcher and
// the hash-record store read with. Any sequence of reads over any bytes
// stays within them; values and strings written by the stream writer read
// back the same.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "foundation/codec/stream_reader.h"
#include "foundation/codec/stream_writer.h"
#include "fuzzers/fuzz_check.h"

namespace {

enum Op : uint8_t { kU8, kU16, kU32, kU64, kValue, kBytes, kString, kSkip, kOpCount };

// Reads the ops over bytes no one wrote.
void ReadAnything(FuzzedDataProvider& in) {
  const std::vector<uint8_t> ops = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 24));
  const std::vector<uint8_t> bytes = in.ConsumeRemainingBytes<uint8_t>();
  CStreamReader r(bytes.empty() ? nullptr : bytes.data(), uint32_t(bytes.size()));
  for (size_t k = 0; k < ops.size(); ++k) {
    const uint32_t before = r.Position();
    const int32_t arg = int32_t(int8_t(ops[k])) * 37;  // small, sometimes negative
    switch (ops[k] % kOpCount) {
      case kU8: r.ReadUInt8(); break;
      case kU16: r.ReadUInt16(); break;
      case kU32: r.ReadUInt32(); break;
      case kU64: r.ReadUInt64(); break;
      case kValue: r.ReadValue(ops[k] % 12); break;
      case kBytes: {
        std::vector<uint8_t> out(arg > 0 ? size_t(arg) : 0);
        r.ReadBytes(out.data(), arg);
        break;
      }
      case kString: FUZZ_CHECK(r.ReadString().size() <= CStreamReader::kMaxStringLength); break;
      case kSkip: r.Skip(arg); break;
    }
    // The position never moves back but for a negative skip (to just past
    // the end), and never wraps.
    FUZZ_CHECK(r.Position() >= before || (ops[k] % kOpCount == kSkip && arg < 0 && r.Position() == r.Size() + 1));
    FUZZ_CHECK(r.ReadPointer() >= (bytes.empty() ? nullptr : bytes.data()));
    if (!bytes.empty()) FUZZ_CHECK(r.ReadPointer() <= bytes.data() + bytes.size());
    if (!r.Ok()) FUZZ_CHECK(r.ReadUInt32() == 0);
  }
}

struct Written {
  Op op;
  uint64_t value;
  std::string text;
};

// Writes values and strings, then reads them back in the same order.
void RoundTrip(FuzzedDataProvider& in) {
  std::vector<Written> items;
  std::vector<uint8_t> buffer(8192);
  CStreamWriter w(buffer.data(), uint32_t(buffer.size()));
  while (in.remaining_bytes() > 0 && items.size() < 32) {
    Written item{Op(in.ConsumeIntegral<uint8_t>() % kOpCount), 0, {}};
    if (item.op == kBytes || item.op == kSkip || item.op == kValue) item.op = kU64;
    if (item.op == kString) {
      item.text = in.ConsumeRandomLengthString(300);
      w.WriteString(item.text);
    } else {
      item.value = in.ConsumeIntegral<uint64_t>();
      const uint32_t width = item.op == kU8 ? 1 : item.op == kU16 ? 2 : item.op == kU32 ? 4 : 8;
      item.value &= width == 8 ? ~0ull : (1ull << (8 * width)) - 1;
      w.WriteValue(item.value, width);
    }
    if (w.Overflowed()) break;
    items.push_back(item);
  }
  CStreamReader r(buffer.data(), w.GetLength());
  for (const Written& item : items) {
    switch (item.op) {
      case kU8: FUZZ_CHECK(r.ReadUInt8() == item.value); break;
      case kU16: FUZZ_CHECK(r.ReadUInt16() == item.value); break;
      case kU32: FUZZ_CHECK(r.ReadUInt32() == item.value); break;
      case kString: FUZZ_CHECK(r.ReadString() == item.text.substr(0, item.text.find('\0'))); break;
      default: FUZZ_CHECK(r.ReadUInt64() == item.value); break;
    }
  }
  FUZZ_CHECK(r.Ok() && r.Position() == w.GetLength());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  if (in.ConsumeBool()) {
    RoundTrip(in);
  } else {
    ReadAnything(in);
  }
  return 0;
}
