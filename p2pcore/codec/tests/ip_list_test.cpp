// Limit and allow address lists: ranges, clamped prefixes, unsigned order, bad lines.
#include <gtest/gtest.h>

#include "p2pcore/codec/ip_list.h"

namespace {

TEST(IpList, LimitLines) {
  struct Row { std::string line; bool ok; uint32_t first, last; };
  const Row rows[] = {
      {"10.0.0.0/8", true, 0x0A000000, 0x0AFFFFFF},
      {"10.0.0.0/8\r", true, 0x0A000000, 0x0AFFFFFF},
      {"192.168.1.7/32", true, 0xC0A80107, 0xC0A80107},
      {"200.1.0.0/16", true, 0xC8010000, 0xC801FFFF},
      {"1.2.3.4/0", true, 0x01020304, 0xFFFFFFFF},
      {"1.2.3.4/40", true, 0x01020304, 0x01020304},   // clamped to 32
      {"1.2.3.4/-7", true, 0x01020304, 0xFFFFFFFF},   // clamped to 0
      {"1.2.3.4", false, 0, 0},
      {"1.2.3.4/", false, 0, 0},
      {"/8", false, 0, 0},
      {std::string(5000, '1') + "/8", false, 0, 0},  // overlong field
      {"999.1.1.1/8", false, 0, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.line.substr(0, 40));
    p2p::ip_range range = {};
    EXPECT_EQ(p2p::parse_limit_line(r.line, &range), r.ok);
    if (r.ok) {
      EXPECT_EQ(range.first, r.first);
      EXPECT_EQ(range.last, r.last);
    }
  }
}

TEST(IpList, HoldsComparesUnsigned) {
  p2p::limit_ip_list list;
  EXPECT_EQ(list.load("200.0.0.0/8\n10.0.0.0/8\nnonsense\n\n128.0.0.0/31\n"), 3u);
  EXPECT_EQ(list.ranges()[0].first, 0x0A000000u);  // sorted
  struct Row { uint32_t address; bool held; };
  const Row rows[] = {{0x0A000000, true},  {0x0AFFFFFF, true},  {0x0B000000, false}, {0xC8123456, true},
                      {0xC9000000, false}, {0x80000001, true},  {0x80000002, false}, {0x7FFFFFFF, false},
                      {0x09FFFFFF, false}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.address);
    EXPECT_EQ(list.holds(r.address), r.held);
  }
}

TEST(IpList, AllowLines) {
  auto ranges = p2p::parse_allow_list({"10.0.0.1,10.0.0.9", " 1.2.3.4 , 5.6.7.8 ", "bad,1.1.1.1", "1.1.1.1",
                                       "", "1.1.1.1,2.2.2.2,3"});
  ASSERT_EQ(ranges.size(), 2u);
  EXPECT_EQ(ranges[0].first, 0x0100000Au);  // network order: first octet lowest
  EXPECT_EQ(ranges[0].last, 0x0900000Au);
  EXPECT_EQ(ranges[1].first, 0x04030201u);
}

}  // namespace
