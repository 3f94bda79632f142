// The settings pages' checks and what a save sends: numbers in their ranges,
// the FTP port as it is typed, the log-level list, and one row per rule of
// the FTP and P2P saves.
#include "ui/settings_tab/codec/setting_changes.h"

#include <gtest/gtest.h>

#include "ui/res/resource.h"

namespace {

TEST(ParseBoundedDecimal, DigitsWithinTheRange) {
  struct Row {
    std::u16string text;
    uint32_t min, max;
    std::optional<uint32_t> value;
  } rows[] = {
      {u"1", 1, 65535, 1},           {u"65535", 1, 65535, 65535}, {u"65536", 1, 65535, std::nullopt},
      {u"0", 1, 65535, std::nullopt}, {u"", 0, 9, std::nullopt},    {u"00080", 1, 65535, 80},
      {u"-1", 0, 9, std::nullopt},    {u" 8", 0, 9, std::nullopt},  {u"8 ", 0, 9, std::nullopt},
      {u"１", 0, 9, std::nullopt},     // a full-width digit is not a digit here
      {u"999999", 0, 999999, 999999}, {u"4294967296", 0, 4294967295u, std::nullopt},
      {u"99999999999", 0, 4294967295u, std::nullopt},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.text.begin(), row.text.end()));
    EXPECT_EQ(ParseBoundedDecimal(row.text, row.min, row.max), row.value);
  }
}

TEST(ParseDottedAddress, FourNumbersUpTo255) {
  struct Row {
    std::u16string text;
    bool ok;
    uint8_t bytes[4];
  } rows[] = {
      {u"192.168.1.20", true, {192, 168, 1, 20}}, {u"0.0.0.0", true, {0, 0, 0, 0}},
      {u"256.1.1.1", false, {}},                   {u"1.2.3", false, {}},
      {u"1.2.3.4.", false, {}},                    {u"1..3.4", false, {}},
      {u"ftp.example.com", false, {}},             {u"", false, {}},
      {u"1.2.3.0004", false, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.text.begin(), row.text.end()));
    uint8_t out[4] = {9, 9, 9, 9};
    ASSERT_EQ(ParseDottedAddress(row.text, out), row.ok);
    if (row.ok) {
      EXPECT_EQ(std::vector<uint8_t>(out, out + 4), std::vector<uint8_t>(row.bytes, row.bytes + 4));
    }
  }
}

TEST(BoundTypedFtpPort, ValuesOutOfRangeAreReplaced) {
  struct Row {
    std::u16string typed;
    std::optional<std::u16string> shown;
  } rows[] = {
      {u"70000", u"65535"}, {u"99999", u"65535"}, {u"65536", u"65535"}, {u"0", u"1"},
      {u"00", u"1"},        {u"65535", std::nullopt}, {u"21", std::nullopt},
      {u"", std::nullopt},  // emptied to type another: left for the save's check
      {u"2x", std::nullopt},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.typed.begin(), row.typed.end()));
    EXPECT_EQ(BoundTypedFtpPort(row.typed), row.shown);
  }
}

TEST(LogLevelList, IndexesAndLevels) {
  EXPECT_EQ(LogLevelIndex(9), 1);
  EXPECT_EQ(LogLevelIndex(8), 2);
  for (uint16_t other : {0, 1, 10, 65535}) EXPECT_EQ(LogLevelIndex(other), 0) << other;
  EXPECT_EQ(LogLevelOfIndex(0), 0);
  EXPECT_EQ(LogLevelOfIndex(1), 9);
  EXPECT_EQ(LogLevelOfIndex(2), 8);
  EXPECT_EQ(LogLevelOfIndex(-1), 0);  // no selection
}

FtpCachedValues AddressCache() {
  FtpCachedValues c;
  c.hostType = kHostTypeAddress;
  c.host = u"10.0.0.7";
  c.port = 2121;
  c.user = u"carol";
  c.password = u"pw";
  c.serverHasPassword = true;
  return c;
}

FtpPageValues AddressPage() {
  FtpPageValues p;
  p.byDomain = false;
  p.address = u"10.0.0.7";
  p.port = u"2121";
  p.user = u"carol";
  p.password = u"pw";
  return p;
}

TEST(PlanFtpSave, SendsOnlyWhatChanged) {
  struct Row {
    const char* name;
    void (*page)(FtpPageValues&);
    void (*cache)(FtpCachedValues&);
    unsigned refusal;
    bool sendAddress;
    uint32_t hostType;
    std::u16string host;
    uint16_t port;
    bool sendAccount;
  } rows[] = {
      {"nothing changed", [](FtpPageValues&) {}, [](FtpCachedValues&) {}, 0, false, 1, u"10.0.0.7", 2121, false},
      {"another address", [](FtpPageValues& p) { p.address = u"10.0.0.8"; }, [](FtpCachedValues&) {}, 0, true, 1,
       u"10.0.0.8", 2121, false},
      {"another port", [](FtpPageValues& p) { p.port = u"21"; }, [](FtpCachedValues&) {}, 0, true, 1, u"10.0.0.7", 21,
       false},
      {"the cache held a domain", [](FtpPageValues&) {}, [](FtpCachedValues& c) { c.hostType = kHostTypeDomain; }, 0,
       true, 1, u"10.0.0.7", 2121, false},
      {"an empty address", [](FtpPageValues& p) { p.address = u"0.0.0.0"; }, [](FtpCachedValues&) {},
       IDS_ADDRESS_EMPTY, false, 0, u"", 0, false},
      {"an empty port", [](FtpPageValues& p) { p.port = u""; }, [](FtpCachedValues&) {}, IDS_PORT_RANGE, false, 0,
       u"", 0, false},
      {"port 0", [](FtpPageValues& p) { p.port = u"0"; }, [](FtpCachedValues&) {}, IDS_PORT_RANGE, false, 0, u"", 0,
       false},
      {"port 70000 is no port", [](FtpPageValues& p) { p.port = u"70000"; }, [](FtpCachedValues&) {}, IDS_PORT_RANGE,
       false, 0, u"", 0, false},
      {"a domain, trimmed, without a port",
       [](FtpPageValues& p) {
         p.byDomain = true;
         p.domain = u"  ftp.example.com ";
       },
       [](FtpCachedValues&) {}, 0, true, 2, u"ftp.example.com", 0, false},
      {"the same domain in other letters",
       [](FtpPageValues& p) {
         p.byDomain = true;
         p.domain = u"FTP.Example.com";
       },
       [](FtpCachedValues& c) {
         c.hostType = kHostTypeDomain;
         c.host = u"ftp.example.com";
       },
       0, false, 2, u"FTP.Example.com", 0, false},
      {"a domain named as the cached address still changes the host type",
       [](FtpPageValues& p) {
         p.byDomain = true;
         p.domain = u"10.0.0.7";
       },
       [](FtpCachedValues&) {}, 0, true, 2, u"10.0.0.7", 0, false},
      {"an empty domain stops everything",
       [](FtpPageValues& p) {
         p.byDomain = true;
         p.domain = u" \t";
         p.user = u"dave";
       },
       [](FtpCachedValues&) {}, IDS_DOMAIN_EMPTY, false, 0, u"", 0, false},
      {"another user", [](FtpPageValues& p) { p.user = u"dave"; }, [](FtpCachedValues&) {}, 0, false, 1, u"10.0.0.7",
       2121, true},
      {"a password in other letters is another password", [](FtpPageValues& p) { p.password = u"PW"; },
       [](FtpCachedValues&) {}, 0, false, 1, u"10.0.0.7", 2121, true},
      {"another user with the server's password unknown and not typed",
       [](FtpPageValues& p) {
         p.user = u"dave";
         p.password = u"";
       },
       [](FtpCachedValues& c) { c.password = u""; }, IDS_FTP_PASSWORD_NEEDED, false, 0, u"", 0, false},
      {"a password typed and emptied on purpose",
       [](FtpPageValues& p) {
         p.user = u"dave";
         p.password = u"";
         p.passwordTyped = true;
       },
       [](FtpCachedValues& c) { c.password = u""; }, 0, false, 1, u"10.0.0.7", 2121, true},
      {"no password on the server either",
       [](FtpPageValues& p) {
         p.user = u"dave";
         p.password = u"";
       },
       [](FtpCachedValues& c) {
         c.password = u"";
         c.serverHasPassword = false;
       },
       0, false, 1, u"10.0.0.7", 2121, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    FtpPageValues page = AddressPage();
    FtpCachedValues cache = AddressCache();
    row.page(page);
    row.cache(cache);
    const FtpSavePlan plan = PlanFtpSave(page, cache);
    EXPECT_EQ(plan.refusal, row.refusal);
    EXPECT_EQ(plan.sendAddress, row.sendAddress);
    EXPECT_EQ(plan.sendAccount, row.sendAccount);
    if (row.refusal == 0) {
      EXPECT_EQ(plan.hostType, row.hostType);
      EXPECT_EQ(plan.host, row.host);
      EXPECT_EQ(plan.port, row.port);
    }
  }
}

TEST(PlanP2pSave, ChecksThenSendsOnlyWhatChanged) {
  const P2pCachedValues cache{512, 9, 8001};
  struct Row {
    const char* name;
    P2pPageValues page;
    unsigned refusal;
    bool restoreSpeed, sendSpeed;
    uint32_t speed;
    bool sendLevel;
    uint16_t level;
    bool sendPort;
    uint16_t port;
  } rows[] = {
      {"nothing changed", {u"512", 1, u"8001"}, 0, false, false, 512, false, 9, false, 8001},
      {"a speed of 0 is no limit", {u"0", 1, u"8001"}, 0, false, true, 0, false, 9, false, 8001},
      {"the largest speed", {u"999999", 1, u"8001"}, 0, false, true, 999999, false, 9, false, 8001},
      {"an empty speed gets the cached one back", {u"", 1, u"8001"}, 0, true, false, 0, false, 9, false, 8001},
      {"a speed that is no number", {u"12a", 1, u"8001"}, IDS_SPEED_RANGE, false, false, 0, false, 0, false, 0},
      {"a speed of seven digits", {u"1000000", 1, u"8001"}, IDS_SPEED_RANGE, false, false, 0, false, 0, false, 0},
      {"detailed log", {u"512", 2, u"8001"}, 0, false, false, 512, true, 8, false, 8001},
      {"no selection counts as no log", {u"512", -1, u"8001"}, 0, false, false, 512, true, 0, false, 8001},
      {"another port", {u"512", 1, u"8002"}, 0, false, false, 512, false, 9, true, 8002},
      {"port 70000 is refused, not wrapped to 4464", {u"512", 1, u"70000"}, IDS_PORT_RANGE, false, false, 0, false,
       0, false, 0},
      {"an empty port", {u"512", 1, u""}, IDS_PORT_RANGE, false, false, 0, false, 0, false, 0},
      {"port 0", {u"512", 1, u"0"}, IDS_PORT_RANGE, false, false, 0, false, 0, false, 0},
      {"all three", {u"100", 0, u"9000"}, 0, false, true, 100, true, 0, true, 9000},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const P2pSavePlan plan = PlanP2pSave(row.page, cache);
    EXPECT_EQ(plan.refusal, row.refusal);
    EXPECT_EQ(plan.restoreSpeed, row.restoreSpeed);
    EXPECT_EQ(plan.sendSpeed, row.sendSpeed);
    EXPECT_EQ(plan.sendLevel, row.sendLevel);
    EXPECT_EQ(plan.sendPort, row.sendPort);
    if (row.refusal == 0) {
      if (row.sendSpeed) {
        EXPECT_EQ(plan.speed, row.speed);
      }
      EXPECT_EQ(plan.level, row.level);
      EXPECT_EQ(plan.port, row.port);
    }
  }
}

}  // namespace
