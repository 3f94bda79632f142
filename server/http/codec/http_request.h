// The request of the HTTP clients: a request line, the body length and
// keep-alive, and no Host line, which the lookup and p2s servers do not need.
// Platform-free.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

// "METHOD PATH HTTP/1.1", "Content-Length: n" (0 without a body),
// "Connection: Keep-Alive", an empty line, then the body.
std::vector<uint8_t> BuildHttpRequest(std::string_view method, std::string_view path, const uint8_t* body,
                                      size_t length);
