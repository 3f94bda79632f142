// Request bytes of the HTTP clients.
#include "server/http/codec/http_request.h"

#include <string>

std::vector<uint8_t> BuildHttpRequest(std::string_view method, std::string_view path, const uint8_t* body,
                                      size_t length) {
  if (!body) length = 0;
  std::string head;
  head.append(method).append(" ").append(path).append(" HTTP/1.1\r\n");
  head.append("Content-Length: ").append(std::to_string(length)).append("\r\n");
  head.append("Connection: Keep-Alive\r\n\r\n");
  std::vector<uint8_t> out(head.begin(), head.end());
  if (length) out.insert(out.end(), body, body + length);
  return out;
}
