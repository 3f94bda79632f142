// Sites match exactly, without regard to letter case; ports are 1 to 65535.
#include "ui/client_settings/codec/site_list.h"

#include <gtest/gtest.h>

TEST(FindSite, ExactCaseInsensitive) {
  std::vector<Site> sites = {{u"127.0.0.1", 9090, 1}, {u"Server.Example", 9191, 0}, {u"10.0.0.12", 9090, 0}};
  struct Row {
    const char16_t* address;
    int expected;
  } rows[] = {
      {u"127.0.0.1", 0},      {u"server.example", 1}, {u"SERVER.EXAMPLE", 1}, {u"10.0.0.12", 2},
      {u"10.0.0.1", -1},      // begins a stored address: another server
      {u"127.0.0.10", -1},    {u"", -1},              {u"server.example.", -1},
  };
  for (const Row& row : rows) {
    std::u16string address = row.address;
    SCOPED_TRACE(std::string(address.begin(), address.end()));
    EXPECT_EQ(FindSite(sites, address), row.expected);
  }
  EXPECT_EQ(FindSite({}, u"127.0.0.1"), -1);
}

TEST(ParsePort, RangeAndForm) {
  struct Row {
    const char16_t* text;
    uint16_t expected;
  } rows[] = {
      {u"9090", 9090}, {u"1", 1},     {u"65535", 65535}, {u"0", 0},      {u"65536", 0}, {u"70000", 0},
      {u"99999", 0},   {u"", 0},      {u"12a", 0},       {u"-1", 0},     {u"123456", 0}, {u"00021", 21},
  };
  for (const Row& row : rows) {
    std::u16string text = row.text;
    SCOPED_TRACE(std::string(text.begin(), text.end()));
    EXPECT_EQ(ParsePort(text), row.expected);
  }
}
