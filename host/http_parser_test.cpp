// The request-head parser on its own: each case is the bytes at the front of a connection and
// what the parser makes of them.
#include "host/http_parser.h"

#include <gtest/gtest.h>

#include <string>

namespace zentrak::host {
namespace {

using Outcome = HeadParse::Outcome;

constexpr Outcome kMore = Outcome::kIncomplete;
constexpr Outcome kDone = Outcome::kComplete;
constexpr Outcome kRefused = Outcome::kRefused;

struct Case {
  std::string input;
  Outcome outcome;
  int status;            // kRefused only
  std::string method;    // kComplete only, with the fields below
  std::string path;
  std::string query;
  size_t body_length;
  bool keep_alive;
  size_t consumed;       // 0: the whole input
};

TEST(HttpHeadParser, OneHeadAtATime) {
  const std::string h = "Host: 127.0.0.1:1\r\n";
  const Case cases[] = {
      {"GET / HTTP/1.1\r\n" + h + "\r\n", kDone, 0, "GET", "/", "", 0, true, 0},
      {"GET /a?x=1&y HTTP/1.1\r\n" + h + "\r\n", kDone, 0, "GET", "/a", "x=1&y", 0, true, 0},
      {"\r\n\r\nGET / HTTP/1.1\r\n" + h + "\r\n", kDone, 0, "GET", "/", "", 0, true, 0},  // empty lines first
      {"POST /api HTTP/1.1\r\n" + h + "Content-Length: 5\r\n\r\nhello", kDone, 0, "POST", "/api", "", 5, true,
       60},
      {"GET / HTTP/1.1\r\n" + h + "Connection: close\r\n\r\n", kDone, 0, "GET", "/", "", 0, false, 0},
      {"GET / HTTP/1.1\r\n" + h + "Connection: Upgrade, CLOSE\r\n\r\n", kDone, 0, "GET", "/", "", 0, false, 0},
      {"GET / HTTP/1.0\r\n\r\n", kDone, 0, "GET", "/", "", 0, false, 0},
      {"GET / HTTP/1.0\r\nConnection: Keep-Alive\r\n\r\n", kDone, 0, "GET", "/", "", 0, true, 0},
      {"GET HTTP://x:1/p?q HTTP/1.1\r\n\r\n", kDone, 0, "GET", "/p", "q", 0, true, 0},
      {"GET http://x:1 HTTP/1.1\r\n\r\n", kDone, 0, "GET", "/", "", 0, true, 0},
      {"OPTIONS * HTTP/1.1\r\n\r\n", kDone, 0, "OPTIONS", "*", "", 0, true, 0},
      {"POST / HTTP/1.1\r\nContent-Length: 7\r\ncontent-length: 7\r\n\r\n", kDone, 0, "POST", "/", "", 7, true, 0},
      {"POST / HTTP/1.1\r\nContent-Length: 1000000000000000000\r\n\r\n", kDone, 0, "POST", "/", "",
       1000000000000000000u, true, 0},  // the connection, not the parser, bounds a body

      {"", kMore},
      {"GET / HTTP/1.1\r\n" + h, kMore},
      {"GET / HTTP/1.1\r\n" + h + "\r", kMore},
      {"\r", kMore},
      {"\r\n", kMore},

      // A line ending in LF alone is malformed wherever it is, even before the head is whole.
      {"GET / HTTP/1.1\n" + h + "\n", kRefused, 400},
      {"GET / HTTP/1.1\r\nHost: x\n\r\n", kRefused, 400},
      {"GET / HTTP/1.1\r\n" + h + "\n", kRefused, 400},
      {"GET / HTTP/1.1\n", kRefused, 400},
      {"\n", kRefused, 400},
      {"\r\n\nGET / HTTP/1.1\r\n\r\n", kRefused, 400},

      {"GET /\r\n\r\n", kRefused, 400},
      {"GET  / HTTP/1.1\r\n\r\n", kRefused, 400},
      {"GET / HTTP/1.1 x\r\n\r\n", kRefused, 400},
      {"G(T / HTTP/1.1\r\n\r\n", kRefused, 400},
      {std::string("G\0T / HTTP/1.1\r\n\r\n", 18), kRefused, 400},
      {"GET /\x01 HTTP/1.1\r\n\r\n", kRefused, 400},
      {"GET ftp://x/ HTTP/1.1\r\n\r\n", kRefused, 400},
      {"GET x HTTP/1.1\r\n\r\n", kRefused, 400},
      {"GET / HTTP/1.x\r\n\r\n", kRefused, 400},
      {"GET / HTTPS/1.1\r\n\r\n", kRefused, 400},
      {"GET / HTTP/2.0\r\n\r\n", kRefused, 505},
      {"GET / HTTP/0.9\r\n\r\n", kRefused, 505},
      {"GET / HTTP/1.1\r\n" + h + " folded\r\n\r\n", kRefused, 400},
      {"GET / HTTP/1.1\r\nBad Name: 1\r\n\r\n", kRefused, 400},
      {"GET / HTTP/1.1\r\n: empty name\r\n\r\n", kRefused, 400},
      {"GET / HTTP/1.1\r\nNo colon\r\n\r\n", kRefused, 400},
      {"GET / HTTP/1.1\r\nX: a\rb\r\n\r\n", kRefused, 400},
      {"GET / HTTP/1.1\r\nX: a\x7f\r\n\r\n", kRefused, 400},
      {"GET / HTTP/1.1\r\n" + h + h + "\r\n", kRefused, 400},
      {"POST / HTTP/1.1\r\nContent-Length: 5\r\nContent-Length: 6\r\n\r\n", kRefused, 400},
      {"POST / HTTP/1.1\r\nContent-Length: 5, 5\r\n\r\n", kRefused, 400},
      {"POST / HTTP/1.1\r\nContent-Length: -5\r\n\r\n", kRefused, 400},
      {"POST / HTTP/1.1\r\nContent-Length: +5\r\n\r\n", kRefused, 400},
      {"POST / HTTP/1.1\r\nContent-Length:\r\n\r\n", kRefused, 400},
      {"POST / HTTP/1.1\r\nContent-Length: 18446744073709551616\r\n\r\n", kRefused, 400},  // 2^64
      {"POST / HTTP/1.1\r\nContent-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n", kRefused, 400},
      {"GET / HTTP/1.1\r\nX: " + std::string(kMaxHeadBytes, 'a') + "\r\n\r\n", kRefused, 431},
      {"GET / HTTP/1.1\r\nX: " + std::string(kMaxHeadBytes, 'a'), kRefused, 431},  // before its end arrives
  };
  for (const Case& c : cases) {
    const std::string shown = c.input.substr(0, 50);
    HttpHeadParser parser;
    HttpRequest request;
    HeadParse r = parser.Parse(c.input, request);
    ASSERT_EQ(r.outcome, c.outcome) << shown << " -> " << r.description;
    if (c.outcome == kRefused) {
      EXPECT_EQ(r.status, c.status) << shown;
      EXPECT_NE(r.description.find("Bad request: "), std::string::npos) << shown;
    }
    if (c.outcome != kDone) continue;
    EXPECT_EQ(request.method, c.method) << shown;
    EXPECT_EQ(request.path, c.path) << shown;
    EXPECT_EQ(request.query, c.query) << shown;
    EXPECT_EQ(r.body_length, c.body_length) << shown;
    EXPECT_EQ(r.keep_alive, c.keep_alive) << shown;
    EXPECT_EQ(r.consumed, c.consumed ? c.consumed : c.input.size()) << shown;
  }
}

TEST(HttpHeadParser, Headers) {
  HttpHeadParser parser;
  HttpRequest request;
  const std::string input =
      "HEAD /x HTTP/1.1\r\nHOST: [::1]:5\r\nX-Many: a\r\nx-many:  b \t\r\nTransfer-Encoding: chunked\r\n"
      "Expect: 100-Continue\r\n\r\n";
  HeadParse r = parser.Parse(input, request);
  ASSERT_EQ(r.outcome, kDone) << r.description;
  ASSERT_NE(request.Header("host"), nullptr);
  EXPECT_EQ(*request.Header("host"), "[::1]:5");
  EXPECT_EQ(*request.Header("x-many"), "a, b");  // repeated headers joined, values trimmed
  EXPECT_EQ(request.Header("Host"), nullptr);     // names are looked up in lower case
  EXPECT_TRUE(r.chunked);
  EXPECT_TRUE(r.head_only);
  EXPECT_TRUE(HeaderHasToken(request.Header("expect"), "100-continue"));

  // An absolute target's authority stands in for the Host header.
  r = parser.Parse("GET http://127.0.0.1:9/a HTTP/1.1\r\nHost: evil.example\r\n\r\n", request);
  ASSERT_EQ(r.outcome, kDone);
  EXPECT_EQ(*request.Header("host"), "127.0.0.1:9");
  r = parser.Parse("GET http://127.0.0.1:9/a HTTP/1.1\r\n\r\n", request);
  ASSERT_EQ(r.outcome, kDone);
  EXPECT_EQ(*request.Header("host"), "127.0.0.1:9");
}

// Bytes arriving one at a time give the same head as all at once, and what follows it is left.
TEST(HttpHeadParser, ByteByByteAndPipelined) {
  const std::string first = "POST /api?session=a%20b HTTP/1.1\r\nHost: h\r\nContent-Length: 2\r\n\r\n";
  const std::string input = first + "{}GET / HTTP/1.1\r\n\r\n";
  HttpHeadParser parser;
  HttpRequest request;
  HeadParse r;
  size_t fed = 0;
  while (fed < input.size()) {
    r = parser.Parse(std::string_view(input).substr(0, ++fed), request);
    if (r.outcome != kMore) break;
  }
  ASSERT_EQ(r.outcome, kDone);
  EXPECT_EQ(fed, first.size());
  EXPECT_EQ(r.consumed, first.size());
  EXPECT_EQ(request.QueryValue("session"), "a b");
  std::string rest = input.substr(r.consumed + r.body_length);
  r = parser.Parse(rest, request);
  ASSERT_EQ(r.outcome, kDone);
  EXPECT_EQ(request.method, "GET");

  // A bare LF that arrives late in a head scanned piece by piece is still found.
  HttpHeadParser late;
  EXPECT_EQ(late.Parse("GET / HTTP/1.1\r\nX: 1", request).outcome, kMore);
  EXPECT_EQ(late.Parse("GET / HTTP/1.1\r\nX: 1\n", request).status, 400);
}

TEST(HttpRequest, QueryValues) {
  struct {
    const char* query;
    const char* key;
    const char* value;
  } cases[] = {
      {"session=abc", "session", "abc"},
      {"a=1&session=x+y%21", "session", "x y!"},
      {"session", "session", ""},
      {"sess%69on=1", "session", "1"},
      {"session=%zz%4", "session", "%zz%4"},  // broken escapes stay as they are
      {"other=1", "session", ""},
      {"", "session", ""},
  };
  for (const auto& c : cases) {
    HttpRequest r;
    r.query = c.query;
    EXPECT_EQ(r.QueryValue(c.key), c.value) << c.query;
  }
}

}  // namespace
}  // namespace zentrak::host
