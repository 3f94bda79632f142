// Size and speed texts of the server and the user interface. Platform-free.
#pragma once
#include <cstdint>
#include <string>

// "0 K"; else K, M or G, the first whose whole quotient is below 1000 (at
// most G): "%.1f %c" below 10, else the whole quotient and the unit.
std::u16string SizeUnitText(uint64_t size);

// "%d B" below 1000 bytes (and for negative sizes), then "%3.2f KB",
// "%3.2f MB" from 1,024,000 bytes and "%.2f GB" from 1,048,576,000 bytes.
std::string FormatFileSize(int64_t size);
// FormatFileSize of bytes per second, followed by "/S".
std::string FormatSpeedText(int64_t bytesPerSecond);
