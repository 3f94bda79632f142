// Fuzz target: a control-channel request body as the server reads it: the
// command code, then the command's fields with the stream reader (PATH
// fields, numbers, the export request of command 49). A request the user
// interface builds from any texts reads back as those texts, cut where the
// fields cut them.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/codec/stream_reader.h"
#include "fuzzers/fuzz_check.h"
#include "server/control/codec/control_fields.h"
#include "server/control/codec/control_records.h"
#include "server/links/codec/export_request.h"
#include "ui/client/codec/control_codec.h"

namespace {

// Up to the first zero unit, at most `units` units.
std::u16string Cut(std::u16string_view text, size_t units) {
  text = text.substr(0, units);
  return std::u16string(text.substr(0, text.find(u'\0')));
}

std::u16string TextOf(FuzzedDataProvider& in) {
  const std::string bytes = in.ConsumeRandomLengthString(600);
  std::u16string text;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) text.push_back(char16_t(uint8_t(bytes[i]) | uint8_t(bytes[i + 1]) << 8));
  return text;
}

bool IsPathCommand(uint16_t code) {
  switch (ControlCommand(code)) {
    case ControlCommand::AddDir: case ControlCommand::PubDir: case ControlCommand::DelDir:
    case ControlCommand::SetAutoDir: case ControlCommand::PubFile: case ControlCommand::CancelPubFile:
    case ControlCommand::GetFileList:
      return true;
    default:
      return false;
  }
}

// What the server's handlers take out of a request.
struct ServerView {
  uint16_t code = 0;
  std::u16string path;
  uint32_t number = 0;
  ExportOptions exportOptions;
};

ServerView ReadAsServer(const std::vector<uint8_t>& body) {
  ServerView v;
  CStreamReader in(body.empty() ? nullptr : body.data(), uint32_t(body.size()));
  v.code = in.ReadUInt16();
  if (IsPathCommand(v.code)) {
    uint8_t field[520];
    in.ReadBytes(field, sizeof field);
    v.path = ReadPathField(field);
    FUZZ_CHECK(v.path.size() <= kPathUnits && v.path.find(u'\0') == std::u16string::npos);
  } else if (v.code == uint16_t(ControlCommand::ExportURL)) {
    const uint32_t left = in.Size() - (in.Position() < in.Size() ? in.Position() : in.Size());
    v.exportOptions = ParseExportRequest(in.ReadPointer(), left);
    FUZZ_CHECK(v.exportOptions.keyword.size() <= 260 && v.exportOptions.path.size() <= 260);
  } else if (v.code == uint16_t(ControlCommand::SetP2pMaxUpSpeed)) {
    v.number = in.ReadUInt32();
  } else if (v.code == uint16_t(ControlCommand::SetP2pLogLevel) || v.code == uint16_t(ControlCommand::SetP2pPort)) {
    v.number = in.ReadUInt16();
  }
  return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  if (!in.ConsumeBool()) {
    // Any bytes from a client.
    ReadAsServer(in.ConsumeRemainingBytes<uint8_t>());
    return 0;
  }

  // Requests as the user interface builds them.
  switch (in.ConsumeIntegralInRange(0, 2)) {
    case 0: {
      const uint16_t codes[] = {1, 2, 4, 5, 17, 18, 34};
      const uint16_t code = codes[in.ConsumeIntegralInRange<size_t>(0, 6)];
      const std::u16string path = TextOf(in);
      const ServerView v = ReadAsServer(RequestBuilder(ControlCommand(code)).Path(path).Bytes());
      FUZZ_CHECK(v.code == code && v.path == Cut(path, kPathSendUnits));
      break;
    }
    case 1: {
      ExportParams p;
      p.linkKind = in.ConsumeIntegral<uint32_t>();
      p.naming = in.ConsumeIntegral<uint32_t>();
      p.sort = in.ConsumeIntegral<uint32_t>();
      p.rangeStart = in.ConsumeIntegral<uint64_t>();
      p.rangeEnd = in.ConsumeIntegral<uint64_t>();
      const std::u16string keyword = TextOf(in), path = TextOf(in);
      p.keyword = keyword;
      p.path = path;
      const std::vector<uint8_t> body = BuildExportRequest(p);
      FUZZ_CHECK(body.size() == 2 + sizeof(ExportRequest));
      const ExportOptions o = ReadAsServer(body).exportOptions;
      FUZZ_CHECK(o.linkKind == p.linkKind && o.parentNaming == (p.naming != 0) && o.sort == (p.sort != 0));
      FUZZ_CHECK(o.rangeStart == p.rangeStart && o.rangeEnd == p.rangeEnd);
      FUZZ_CHECK(o.keyword == Cut(keyword, kExportPathUnits) && o.path == Cut(path, kExportPathUnits));
      break;
    }
    default: {
      const uint32_t speed = in.ConsumeIntegral<uint32_t>();
      const uint16_t level = in.ConsumeIntegral<uint16_t>();
      FUZZ_CHECK(ReadAsServer(RequestBuilder(ControlCommand::SetP2pMaxUpSpeed).U32(speed).Bytes()).number == speed);
      FUZZ_CHECK(ReadAsServer(RequestBuilder(ControlCommand::SetP2pPort).U16(level).Bytes()).number == level);
      break;
    }
  }
  return 0;
}
