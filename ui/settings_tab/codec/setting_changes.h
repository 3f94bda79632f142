// What a save of the FTP or P2P settings page sends: the values typed are
// checked as numbers in their ranges first, and only what differs from the
// settings cache becomes a command. Pure functions of the page and the
// cache, so every rule is a row of a table. Platform-free.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Decimal digits only and a value from min to max; nothing otherwise (empty,
// a sign, a blank or another character, too large).
std::optional<uint32_t> ParseBoundedDecimal(std::u16string_view text, uint32_t min, uint32_t max);

// An IPv4 address as four decimal numbers from 0 to 255 with dots between.
bool ParseDottedAddress(std::u16string_view text, uint8_t out[4]);

// The FTP port edit as it is typed: a value above 65535 becomes "65535" and
// 0 becomes "1". Nothing when the text stays as typed (a value in range, an
// empty edit the user is about to fill, a text that is no number).
std::optional<std::u16string> BoundTypedFtpPort(std::u16string_view text);

// The log-level list: index 0 "no log" (level 0), 1 "simple" (9), 2 "detailed" (8).
int LogLevelIndex(uint16_t level);
uint16_t LogLevelOfIndex(int index);  // no selection (-1) counts as level 0

constexpr uint32_t kHostTypeAddress = 1;
constexpr uint32_t kHostTypeDomain = 2;
constexpr uint32_t kMaxUpSpeed = 999999;  // KB/s; six digits

struct FtpPageValues {
  bool byDomain = false;
  std::u16string domain;
  std::u16string address;   // the IP control as dotted text, "0.0.0.0" when empty
  std::u16string port;
  std::u16string user;
  std::u16string password;
  bool passwordTyped = false;  // the user typed in the password edit
};

struct FtpCachedValues {
  uint32_t hostType = kHostTypeAddress;
  std::u16string host;
  uint16_t port = 21;
  std::u16string user;
  std::u16string password;         // plain text as last entered; empty when not known
  bool serverHasPassword = false;  // command 65 gave a password digest
};

struct FtpSavePlan {
  unsigned refusal = 0;  // the string of a check message: nothing is sent
  bool sendAddress = false;
  uint32_t hostType = 0;
  std::u16string host;
  uint16_t port = 0;  // 0 with a domain name: the server keeps its port
  bool sendAccount = false;
};

FtpSavePlan PlanFtpSave(const FtpPageValues& page, const FtpCachedValues& cache);

struct P2pPageValues {
  std::u16string speed;
  int levelIndex = -1;
  std::u16string port;
};

struct P2pCachedValues {
  uint32_t maxUpSpeed = 0;
  uint16_t logLevel = 9;
  uint16_t port = 8000;
};

struct P2pSavePlan {
  unsigned refusal = 0;
  bool restoreSpeed = false;  // an empty speed edit gets the cached value back
  bool sendSpeed = false;
  uint32_t speed = 0;
  bool sendLevel = false;
  uint16_t level = 0;
  bool sendPort = false;
  uint16_t port = 0;
};

P2pSavePlan PlanP2pSave(const P2pPageValues& page, const P2pCachedValues& cache);
