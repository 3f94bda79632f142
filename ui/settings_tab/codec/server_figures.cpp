// Figures of the server pages as texts.
#include "ui/settings_tab/codec/server_figures.h"

#include <bit>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "foundation/text/address_text.h"
#include "foundation/text/size_text.h"
#include "ui/client/codec/control_codec.h"
#include "ui/res/resource.h"

namespace {

std::u16string Ascii(const std::string& text) { return std::u16string(text.begin(), text.end()); }

std::u16string Unsigned(uint64_t value) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%" PRIu64, value);
  return Ascii(buf);
}

std::u16string Percent(int32_t value) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%" PRId32 "%%", value);
  return Ascii(buf);
}

std::u16string Size(uint64_t bytes) { return Ascii(FormatFileSize(static_cast<int64_t>(bytes))); }
std::u16string Speed(uint32_t bytesPerSecond) { return Ascii(FormatSpeedText(bytesPerSecond)); }

}  // namespace

std::vector<FieldText> ServerInfoTexts(const ServerInfoBlock& info) {
  return {{IDC_INFO_NODE, Unsigned(info.nodeId)},
          {IDC_INFO_ADDRESS, Ascii(Ipv4Text(info.publicIp))},
          {IDC_INFO_DIRS, Unsigned(info.dirCount)},
          {IDC_INFO_FILES, Unsigned(info.shareCount)}};
}

std::vector<FieldText> PerformanceTexts(const PerformanceBlock& performance) {
  return {{IDC_INFO_TOTAL_MEMORY, Size(performance.totalPhys)},
          {IDC_INFO_FREE_MEMORY, Size(performance.availPhys)},
          {IDC_INFO_FREE_VIRTUAL, Size(performance.availVirtual)},
          {IDC_INFO_DISK_TOTAL, Size(performance.reserved0)},
          {IDC_INFO_DISK_FREE, Size(performance.reserved1)}};
}

std::vector<FieldText> DisconnectedInfoTexts() {
  return {{IDC_INFO_NODE, u"0"},           {IDC_INFO_ADDRESS, u"0.0.0.0"},     {IDC_INFO_OS, u"0"},
          {IDC_INFO_CPU, u"0"},            {IDC_INFO_TOTAL_MEMORY, u"0GB"},    {IDC_INFO_FREE_MEMORY, u"0GB"},
          {IDC_INFO_FREE_VIRTUAL, u"0GB"}, {IDC_INFO_DISK_TOTAL, u"0GB"},      {IDC_INFO_DISK_FREE, u"0GB"},
          {IDC_INFO_DIRS, u"0"},           {IDC_INFO_FILES, u"0"}};
}

std::u16string SystemOsText(const SystemInfoBlock& system) { return PackedText(system.os, kNameUnits); }
std::u16string SystemCpuText(const SystemInfoBlock& system) { return PackedText(system.cpu, kNameUnits); }

std::vector<FieldText> StatusStartTexts() {
  return {{IDC_STATUS_FTP_SENT, u"0"},       {IDC_STATUS_FTP_RECEIVED, u"0"}, {IDC_STATUS_FTP_CONNECTIONS, u"0"},
          {IDC_STATUS_P2P_SENT, u"0B"},      {IDC_STATUS_P2P_SPEED, u"0B/s"}, {IDC_STATUS_P2P_REQUESTS, u"0"},
          {IDC_STATUS_DISK_REQUESTS, u"0"},  {IDC_STATUS_DISK_DELAY, u"0"},   {IDC_STATUS_DISK_SPEED, u"0/S"},
          {IDC_STATUS_DISK_READ, u"0"},      {IDC_STATUS_CACHE_READ, u"0"},   {IDC_STATUS_CACHE_USE, u"0"},
          {IDC_STATUS_CACHE_HITS, u"0"},     {IDC_STATUS_CACHE_MISSES, u"0"}, {IDC_STATUS_HIT_RATE, u"0"}};
}

std::vector<FieldText> FtpStatusTexts(const FtpStatistics& ftp) {
  return {{IDC_STATUS_FTP_SENT, Unsigned(ftp.first)},
          {IDC_STATUS_FTP_RECEIVED, Unsigned(ftp.second)},
          {IDC_STATUS_FTP_CONNECTIONS, Unsigned(ftp.connections)}};
}

std::vector<FieldText> P2pStatusTexts(const P2pTotals& totals, const P2pStatBlock& block) {
  static_assert(std::endian::native == std::endian::little, "the blocks are read in place");
  return {{IDC_STATUS_P2P_SENT, Size(totals.uploaded_total)},
          {IDC_STATUS_P2P_SPEED, Speed(totals.uploaded_last_second)},
          {IDC_STATUS_P2P_REQUESTS, Unsigned(totals.requests_last_second)},
          {IDC_STATUS_DISK_REQUESTS, Unsigned(block.reads_last_second)},
          {IDC_STATUS_DISK_DELAY, Unsigned(block.read_ms_last_second)},
          {IDC_STATUS_DISK_SPEED, Speed(block.disk_bytes_last_second)},
          {IDC_STATUS_DISK_READ, Size(block.disk_bytes)},
          {IDC_STATUS_CACHE_READ, Size(block.cache_bytes)},
          {IDC_STATUS_CACHE_USE, Percent(block.cache_use_percent)},
          {IDC_STATUS_CACHE_HITS, Unsigned(block.cache_hits)},
          {IDC_STATUS_CACHE_MISSES, Unsigned(block.cache_misses)},
          {IDC_STATUS_HIT_RATE, Percent(block.hit_percent)}};
}
