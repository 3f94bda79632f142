// The servers the user interface has connected to, and how an address typed
// in the connect dialog is matched to one of them. Platform-free.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct Site {
  std::u16string address;
  uint16_t port = 0;
  uint32_t autoLogin = 0;
};

// The first site whose address equals `address` without regard to ASCII
// letter case; -1 when none (also for an empty address).
int FindSite(const std::vector<Site>& sites, std::u16string_view address);

// A port typed as decimal text: 1 to 65535, else 0 (empty, not a number, out of range).
uint16_t ParsePort(std::u16string_view text);
