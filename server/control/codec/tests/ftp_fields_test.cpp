// The FTP commands' bytes: requests read whole, short or over-long, the reply
// records, and both against the user interface's own codec, so the two ends
// keep to one layout.
#include "server/control/codec/ftp_fields.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "ui/client/codec/control_codec.h"

namespace {

std::vector<uint8_t> Body(const std::vector<uint8_t>& request) {
  return std::vector<uint8_t>(request.begin() + 2, request.end());  // after the code
}

TEST(ParseFtpSettingRequest, ReadsWhatTheUserInterfaceSends) {
  const std::u16string longHost(70, u'h');
  struct Row {
    const char* name;
    std::vector<uint8_t> request;  // with its code
    size_t keep;                   // body bytes handed to the parser
    uint32_t hostType;
    std::u16string host;
    uint16_t port;
  } rows[] = {
      {"address", BuildFtpSettingRequest(1, u"192.168.1.20", 2121), 134, 1, u"192.168.1.20", 2121},
      {"domain without a port", BuildFtpSettingRequest(2, u"ftp.example.org", 0), 134, 2, u"ftp.example.org", 0},
      {"host cut to 63 units by the sender", BuildFtpSettingRequest(2, longHost, 21), 134, 2, longHost.substr(0, 63), 21},
      {"port missing: reads 0", BuildFtpSettingRequest(1, u"10.0.0.1", 990), 132, 1, u"10.0.0.1", 0},
      {"half a port", BuildFtpSettingRequest(1, u"10.0.0.1", 0x1234), 133, 1, u"10.0.0.1", 0x34},
      {"host cut mid-field", BuildFtpSettingRequest(2, u"abcdef", 21), 4 + 6, 2, u"abc", 0},
      {"host type only", BuildFtpSettingRequest(2, u"x", 21), 4, 2, u"", 0},
      {"nothing after the code", BuildFtpSettingRequest(2, u"x", 21), 0, 0, u"", 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    ASSERT_EQ(r.request.size(), 2 + sizeof(FtpSettingRequest));
    const std::vector<uint8_t> body = Body(r.request);
    const FtpAddressChange got = ParseFtpSettingRequest(body.data(), r.keep);
    EXPECT_EQ(got.hostType, r.hostType);
    EXPECT_EQ(got.host, r.host);
    EXPECT_EQ(got.port, r.port);
  }
}

TEST(ParseFtpSettingRequest, HostFillingTheFieldAndTrailingBytes) {
  std::vector<uint8_t> body(sizeof(FtpSettingRequest) + 50, 0xEE);  // longer than the record
  body[0] = 2, body[1] = body[2] = body[3] = 0;
  for (size_t i = 0; i < kNameUnits; ++i) body[4 + 2 * i] = 'a' + i % 26, body[5 + 2 * i] = 0;
  body[132] = 0x15, body[133] = 0x00;
  const FtpAddressChange got = ParseFtpSettingRequest(body.data(), body.size());
  EXPECT_EQ(got.host.size(), kNameUnits) << "a full field has no terminator";
  EXPECT_EQ(got.port, 21);
  const FtpAddressChange none = ParseFtpSettingRequest(nullptr, 134);
  EXPECT_EQ(none.hostType, 0u);
  EXPECT_TRUE(none.host.empty());
}

TEST(ParseFtpAccountRequest, UserAndPassword) {
  const std::u16string longUser(70, u'u');
  struct Row {
    const char* name;
    std::vector<uint8_t> request;
    size_t keep;
    std::u16string user, password;
  } rows[] = {
      {"both", RequestBuilder(ControlCommand::SetFtpAccount).Name(u"alice").Name(u"s3cret").Bytes(), 256, u"alice",
       u"s3cret"},
      {"empty user with a password",
       RequestBuilder(ControlCommand::SetFtpAccount).Name(u"").Name(u"pw").Bytes(), 256, u"", u"pw"},
      {"user cut by the sender", RequestBuilder(ControlCommand::SetFtpAccount).Name(longUser).Name(u"p").Bytes(), 256,
       longUser.substr(0, 63), u"p"},
      {"password missing", RequestBuilder(ControlCommand::SetFtpAccount).Name(u"bob").Name(u"pw").Bytes(), 128, u"bob",
       u""},
      {"password cut", RequestBuilder(ControlCommand::SetFtpAccount).Name(u"bob").Name(u"secret").Bytes(), 128 + 4,
       u"bob", u"se"},
      {"nothing", RequestBuilder(ControlCommand::SetFtpAccount).Name(u"bob").Name(u"pw").Bytes(), 0, u"", u""},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    ASSERT_EQ(r.request.size(), 2 + sizeof(FtpAccountRequest));
    const std::vector<uint8_t> body = Body(r.request);
    const FtpAccountChange got = ParseFtpAccountRequest(body.data(), r.keep);
    EXPECT_EQ(got.user, r.user);
    EXPECT_EQ(got.password, r.password);
  }
}

// Command 65's reply as the server writes it, read back by the user interface.
TEST(FtpAccountReply, ServerRecordsReadByTheUserInterface) {
  const std::u16string longPath(300, u'd');
  const FtpShareDirEntry entries[] = {
      MakeFtpShareDirEntry(u"C:\\users\\od\\ODHomeDir", u"", 1),
      MakeFtpShareDirEntry(u"D:\\Video", u"C:\\users\\od\\ODHomeDir\\0123456789ABCDEF0123456789ABCDEF", 0),
      MakeFtpShareDirEntry(longPath, longPath, 0),
  };
  const FtpAccountHead head = MakeFtpAccountHead(u"alice", u"900150983CD24FB0D6963F7D28E17F72", 3);
  std::vector<uint8_t> reply = {200, 0};
  reply.insert(reply.end(), reinterpret_cast<const uint8_t*>(&head), reinterpret_cast<const uint8_t*>(&head + 1));
  reply.insert(reply.end(), reinterpret_cast<const uint8_t*>(entries), reinterpret_cast<const uint8_t*>(entries + 3));

  FtpAccountReply read;
  ReadFtpAccount(ReplyReader(reply.data(), reply.size()), read);
  EXPECT_EQ(read.user, u"alice");
  EXPECT_EQ(read.password, u"900150983CD24FB0D6963F7D28E17F72");
  ASSERT_EQ(read.promised, 3u);
  ASSERT_EQ(read.dirs.size(), 3u);
  EXPECT_EQ(FixedText(read.dirs[0].first, kPathUnits), u"C:\\users\\od\\ODHomeDir");
  EXPECT_EQ(read.dirs[0].isHome, 1u);
  EXPECT_EQ(FixedText(read.dirs[1].second, kPathUnits), u"C:\\users\\od\\ODHomeDir\\0123456789ABCDEF0123456789ABCDEF");
  EXPECT_EQ(read.dirs[1].isHome, 0u);
  EXPECT_EQ(FixedText(read.dirs[2].first, kPathUnits), longPath.substr(0, 260)) << "a full field, no terminator";
}

TEST(FtpSetting, ReplyRecordCutsTheHost) {
  struct Row {
    const char* name;
    std::u16string host;
    uint16_t port;
    size_t units;
  } rows[] = {
      {"address", u"10.1.2.3", 21, 8},
      {"empty", u"", 0, 0},
      {"64 units fill the field", std::u16string(64, u'h'), 2121, 64},
      {"longer is cut", std::u16string(90, u'h'), 65535, 64},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    const FtpSetting s = MakeFtpSetting(r.host, r.port);
    std::vector<uint8_t> reply = {200, 0};
    reply.insert(reply.end(), reinterpret_cast<const uint8_t*>(&s), reinterpret_cast<const uint8_t*>(&s + 1));
    const ReplyReader reader(reply.data(), reply.size());
    EXPECT_EQ(reader.Text(2, kNameUnits), r.host.substr(0, r.units));
    EXPECT_EQ(reader.U16(130), r.port);
  }
}

}  // namespace
