// The server pages' figures as texts: which control shows what, 64-bit
// counters beyond 32 bits, and texts that end with their field.
#include "ui/settings_tab/codec/server_figures.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>

#include "ui/res/resource.h"

namespace {

std::map<int, std::string> ByControl(const std::vector<FieldText>& texts) {
  std::map<int, std::string> out;
  for (const FieldText& f : texts) {
    EXPECT_EQ(out.count(f.control), 0u) << "control " << f.control << " given twice";
    out[f.control] = std::string(f.text.begin(), f.text.end());
  }
  return out;
}

void Put(uint8_t* b, size_t offset, uint64_t value, int n) {
  for (int i = 0; i < n; ++i) b[offset + static_cast<size_t>(i)] = static_cast<uint8_t>(value >> (8 * i));
}

TEST(ServerInfoTexts, NodeAddressAndCounts) {
  ServerInfoBlock info{};
  info.nodeId = 0x123456789ABCULL;
  const uint8_t address[4] = {203, 0, 113, 7};
  std::memcpy(&info.publicIp, address, 4);
  info.dirCount = 4;
  info.shareCount = 3001;
  EXPECT_EQ(ByControl(ServerInfoTexts(info)),
            (std::map<int, std::string>{{IDC_INFO_NODE, "20015998343868"},
                                        {IDC_INFO_ADDRESS, "203.0.113.7"},
                                        {IDC_INFO_DIRS, "4"},
                                        {IDC_INFO_FILES, "3001"}}));
}

TEST(ServerInfoTexts, MemoryAndTheDisconnectedPage) {
  PerformanceBlock p{};
  p.totalPhys = 0xFFFFFFFF;  // clamped by the server
  p.availPhys = 1536000;
  p.availVirtual = 999;
  EXPECT_EQ(ByControl(PerformanceTexts(p)), (std::map<int, std::string>{{IDC_INFO_TOTAL_MEMORY, "4.00 GB"},
                                                                         {IDC_INFO_FREE_MEMORY, "1.46 MB"},
                                                                         {IDC_INFO_FREE_VIRTUAL, "999 B"},
                                                                         {IDC_INFO_DISK_TOTAL, "0 B"},
                                                                         {IDC_INFO_DISK_FREE, "0 B"}}));
  auto off = ByControl(DisconnectedInfoTexts());
  EXPECT_EQ(off.size(), 11u);
  EXPECT_EQ(off[IDC_INFO_ADDRESS], "0.0.0.0");
  EXPECT_EQ(off[IDC_INFO_TOTAL_MEMORY], "0GB");
  EXPECT_EQ(off[IDC_INFO_NODE], "0");
}

TEST(SystemTexts, EndWithTheirField) {
  SystemInfoBlock s{};
  const std::u16string os = u"6.1.0.7601 Service Pack 1";
  std::memcpy(s.os, os.data(), os.size() * 2);
  for (size_t i = 0; i < kNameUnits; ++i) s.cpu[i] = u'C';  // no zero within its 64 units
  EXPECT_EQ(SystemOsText(s), os);
  EXPECT_EQ(SystemCpuText(s), std::u16string(kNameUnits, u'C'));
}

TEST(StatusTexts, FtpAndP2pFiguresBeyond32Bits) {
  FtpStatistics ftp{};
  ftp.first = 0x1'0000'0005ULL;
  ftp.second = 12;
  ftp.connections = 3;
  EXPECT_EQ(ByControl(FtpStatusTexts(ftp)), (std::map<int, std::string>{{IDC_STATUS_FTP_SENT, "4294967301"},
                                                                          {IDC_STATUS_FTP_RECEIVED, "12"},
                                                                          {IDC_STATUS_FTP_CONNECTIONS, "3"}}));

  P2pTotals totals{};
  P2pStatBlock block{};
  // Laid out by offset, as the core's blocks are given.
  auto* t = reinterpret_cast<uint8_t*>(&totals);
  auto* k = reinterpret_cast<uint8_t*>(&block);
  Put(t, 0, 6ULL << 30, 8);  // running total
  Put(t, 8, 111, 4);         // not shown
  Put(t, 12, 262144, 4);
  Put(t, 16, 52, 4);
  Put(k, 0, 17, 4);
  Put(k, 4, 230, 4);
  Put(k, 8, 0x2'0000'0000ULL, 8);
  Put(k, 16, 0x1'0000'0001ULL, 8);
  Put(k, 24, 5ULL << 30, 8);
  Put(k, 32, 3ULL << 20, 8);
  Put(k, 40, 4096, 4);
  Put(k, 44, 66, 4);
  Put(k, 48, static_cast<uint32_t>(-1), 4);
  EXPECT_EQ(ByControl(P2pStatusTexts(totals, block)),
            (std::map<int, std::string>{{IDC_STATUS_P2P_SENT, "6.00 GB"},
                                        {IDC_STATUS_P2P_SPEED, "256.00 KB/S"},
                                        {IDC_STATUS_P2P_REQUESTS, "52"},
                                        {IDC_STATUS_DISK_REQUESTS, "17"},
                                        {IDC_STATUS_DISK_DELAY, "230"},
                                        {IDC_STATUS_DISK_SPEED, "4.00 KB/S"},
                                        {IDC_STATUS_DISK_READ, "3.00 MB"},
                                        {IDC_STATUS_CACHE_READ, "5.00 GB"},
                                        {IDC_STATUS_CACHE_USE, "-1%"},
                                        {IDC_STATUS_CACHE_HITS, "8589934592"},
                                        {IDC_STATUS_CACHE_MISSES, "4294967297"},
                                        {IDC_STATUS_HIT_RATE, "66%"}}));
  EXPECT_EQ(ByControl(StatusStartTexts()).size(), 15u);
}

}  // namespace
