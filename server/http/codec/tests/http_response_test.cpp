// The HTTP clients' request bytes and response reader: heads of every kind,
// the strict body length, the head limit, split arrival and trailing bytes.
#include "server/http/codec/http_response.h"

#include <gtest/gtest.h>

#include <string>

#include "server/http/codec/http_request.h"

namespace {

std::string Text(const std::vector<uint8_t>& v) { return std::string(v.begin(), v.end()); }

HttpResponseReader::State FeedText(HttpResponseReader* r, const std::string& s) {
  return r->Feed(reinterpret_cast<const uint8_t*>(s.data()), s.size());
}

}  // namespace

TEST(HttpRequest, HeadIsExactlyRequestLineLengthAndKeepAlive) {
  EXPECT_EQ(Text(BuildHttpRequest("GET", "/summary_query?key=fid&fid=0123456789ABCDEF0123456789ABCDEF", nullptr, 0)),
            "GET /summary_query?key=fid&fid=0123456789ABCDEF0123456789ABCDEF HTTP/1.1\r\n"
            "Content-Length: 0\r\nConnection: Keep-Alive\r\n\r\n");
  const uint8_t body[] = {0x16, 0x23, 0x00, 0xFF};
  EXPECT_EQ(Text(BuildHttpRequest("POST", "/commit?cmd=finfo", body, 4)),
            std::string("POST /commit?cmd=finfo HTTP/1.1\r\nContent-Length: 4\r\nConnection: Keep-Alive\r\n\r\n") +
                std::string(reinterpret_cast<const char*>(body), 4));
}

TEST(HttpResponse, HeadsOfEveryKind) {
  const std::string longHeader = "X-Pad: " + std::string(2048, 'p') + "\r\n";
  struct Row {
    const char* name;
    std::string response;
    HttpResponseReader::State state;
    std::string body;
  } rows[] = {
      {"plain 200", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello", HttpResponseReader::kComplete, "hello"},
      {"404 with a body is handed on", "HTTP/1.1 404 Not Found\r\nContent-Length: 3\r\n\r\nnop",
       HttpResponseReader::kComplete, "nop"},
      {"name in any case, blanks around the value", "HTTP/1.1 200 OK\r\ncOnTeNt-LeNgTh: \t 2 \t\r\n\r\nok",
       HttpResponseReader::kComplete, "ok"},
      {"bare line feeds", "HTTP/1.1 200 OK\nContent-Length: 2\n\nok", HttpResponseReader::kComplete, "ok"},
      {"same length twice", "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nContent-Length: 2\r\n\r\nok",
       HttpResponseReader::kComplete, "ok"},
      {"leading zeros", "HTTP/1.1 200 OK\r\nContent-Length: 002\r\n\r\nok", HttpResponseReader::kComplete, "ok"},
      {"at the length limit", "HTTP/1.1 200 OK\r\nContent-Length: 5242880\r\n\r\n", HttpResponseReader::kReading, ""},
      {"no length", "HTTP/1.1 200 OK\r\nServer: x\r\n\r\nhello", HttpResponseReader::kMalformed, ""},
      {"length 0", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", HttpResponseReader::kMalformed, ""},
      {"above the limit", "HTTP/1.1 200 OK\r\nContent-Length: 5242881\r\n\r\n", HttpResponseReader::kMalformed, ""},
      {"far above, no overflow", "HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999999\r\n\r\nx",
       HttpResponseReader::kMalformed, ""},
      {"negative", "HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\nhello", HttpResponseReader::kMalformed, ""},
      {"sign", "HTTP/1.1 200 OK\r\nContent-Length: +5\r\n\r\nhello", HttpResponseReader::kMalformed, ""},
      {"digits then text", "HTTP/1.1 200 OK\r\nContent-Length: 5abc\r\n\r\nhello", HttpResponseReader::kMalformed, ""},
      {"blank inside", "HTTP/1.1 200 OK\r\nContent-Length: 1 2\r\n\r\nhello", HttpResponseReader::kMalformed, ""},
      {"empty value", "HTTP/1.1 200 OK\r\nContent-Length:\r\n\r\nhello", HttpResponseReader::kMalformed, ""},
      {"hex", "HTTP/1.1 200 OK\r\nContent-Length: 0x5\r\n\r\nhello", HttpResponseReader::kMalformed, ""},
      {"two different lengths", "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nContent-Length: 3\r\n\r\nabc",
       HttpResponseReader::kMalformed, ""},
      {"blank before the colon is another header", "HTTP/1.1 200 OK\r\nContent-Length : 2\r\n\r\nok",
       HttpResponseReader::kMalformed, ""},
      {"head over its limit", "HTTP/1.1 200 OK\r\n" + longHeader + "Content-Length: 2\r\n\r\nok",
       HttpResponseReader::kMalformed, ""},
      {"short body", "HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nhello", HttpResponseReader::kReading, ""},
      {"trailing bytes are ignored", "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok!", HttpResponseReader::kComplete,
       "ok"},
      {"a stray line break after the body", "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nab|\r\n",
       HttpResponseReader::kComplete, "ab|"},
      {"a second response behind the first",
       "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nokHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nxy",
       HttpResponseReader::kComplete, "ok"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    // Whole, and again one byte at a time: the outcome must not depend on how it arrives.
    HttpResponseReader whole, split;
    EXPECT_EQ(FeedText(&whole, r.response), r.state);
    for (char c : r.response) FeedText(&split, std::string(1, c));
    EXPECT_EQ(split.state(), r.state);
    if (r.state == HttpResponseReader::kComplete) {
      EXPECT_EQ(Text(whole.Body()), r.body);
      EXPECT_EQ(Text(split.Body()), r.body);
      EXPECT_EQ(whole.ExpectedLength(), int32_t(r.body.size()));
    }
    if (r.state == HttpResponseReader::kMalformed) {
      EXPECT_EQ(whole.ExpectedLength(), -1);
    }
  }
}

TEST(HttpResponse, HeadLimitBoundary) {
  // The head text counts everything before the final line feed, carriage returns left out.
  const std::string start = "HTTP/1.1 200 OK\nContent-Length: 1\nX: ";
  for (size_t total : {size_t(2047), size_t(2048), size_t(2049)}) {
    SCOPED_TRACE(total);
    std::string head = start + std::string(total - start.size() - 1, 'a') + "\n";
    ASSERT_EQ(head.size(), total);
    HttpResponseReader r;
    std::string withCr;  // carriage returns do not count against the limit
    for (char c : head) withCr += c == '\n' ? std::string("\r\n") : std::string(1, c);
    EXPECT_EQ(FeedText(&r, withCr + "\r\nZ"),
              total <= HttpResponseReader::kMaxHeadText ? HttpResponseReader::kComplete : HttpResponseReader::kMalformed);
  }
}

TEST(HttpResponse, BytesInALaterBlockAreIgnored) {
  HttpResponseReader r;
  EXPECT_EQ(FeedText(&r, "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nab"), HttpResponseReader::kReading);
  EXPECT_EQ(FeedText(&r, "c"), HttpResponseReader::kComplete);
  EXPECT_EQ(r.Feed(nullptr, 0), HttpResponseReader::kComplete);
  EXPECT_EQ(FeedText(&r, "d"), HttpResponseReader::kComplete);
  EXPECT_EQ(Text(r.Body()), "abc");
  r.Reset();
  EXPECT_EQ(r.ExpectedLength(), 0);
  EXPECT_TRUE(r.HeadText().empty());
  EXPECT_EQ(FeedText(&r, "HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nx"), HttpResponseReader::kComplete);
}

TEST(HttpResponse, MalformedIgnoresEverythingAfter) {
  HttpResponseReader r;
  EXPECT_EQ(FeedText(&r, "HTTP/1.1 200 OK\r\n\r\n"), HttpResponseReader::kMalformed);
  EXPECT_EQ(FeedText(&r, "Content-Length: 1\r\n\r\nx"), HttpResponseReader::kMalformed);
  EXPECT_TRUE(r.Body().empty());
}

TEST(HttpResponse, StatusCode) {
  struct Row {
    const char* head;
    int code;
  } rows[] = {
      {"HTTP/1.1 200 OK\nContent-Length: 1\n", 200},
      {"HTTP/1.1 404 Not Found\n", 404},
      {"HTTP/1.0 500\n", 500},
      {"HTTP/1.1 404", 404},
      {"HTTP/1.1 40 Short\n", 0},
      {"HTTP/1.1 4044 Long\n", 0},
      {"HTTP/1.1 099 Low\n", 0},
      {"HTTP/1.1 2x0 OK\n", 0},
      {"http/1.1 200 OK\n", 0},
      {"Content-Length: 1\nHTTP/1.1 200 OK\n", 0},
      {"", 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.head);
    EXPECT_EQ(HttpResponseReader::StatusCode(r.head), r.code);
  }
}
