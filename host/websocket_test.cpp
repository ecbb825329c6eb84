// WebSocket framing on its own: the handshake's key, the frames the host writes, and what the
// decoder makes of the bytes a browser sends.
#include "host/websocket.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zentrak::host {
namespace {

using namespace std::string_literals;

std::string Hex(std::string_view bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

// A frame as a client sends it: masked with `mask`, unless mask is empty.
std::string ClientFrame(uint8_t first, std::string_view payload, std::string mask = "\x11\x22\x33\x44",
                        int length_form = 0) {
  std::string f;
  f += static_cast<char>(first);
  uint8_t m = mask.empty() ? 0 : 0x80;
  size_t n = payload.size();
  if (length_form == 0) length_form = n < 126 ? 7 : n <= 0xFFFF ? 16 : 64;
  if (length_form == 7) {
    f += static_cast<char>(m | n);
  } else if (length_form == 16) {
    f += static_cast<char>(m | 126);
    f += static_cast<char>(n >> 8);
    f += static_cast<char>(n & 0xFF);
  } else {
    f += static_cast<char>(m | 127);
    for (int i = 7; i >= 0; --i) f += static_cast<char>((uint64_t{n} >> (i * 8)) & 0xFF);
  }
  f += mask;
  for (size_t i = 0; i < n; ++i) f += mask.empty() ? payload[i] : static_cast<char>(payload[i] ^ mask[i % 4]);
  return f;
}

TEST(WebSocketHandshake, DigestAndAcceptKey) {
  // FIPS 180-4 examples, and the key of RFC 6455 section 1.3.
  EXPECT_EQ(Hex(Sha1("abc")), "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(Hex(Sha1("")), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
  EXPECT_EQ(Hex(Sha1("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")),
            "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
  EXPECT_EQ(WebSocketAccept("dGhlIHNhbXBsZSBub25jZQ=="), "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=");
}

TEST(WebSocketHandshake, KeyShape) {
  const struct {
    const char* key;
    bool valid;
  } cases[] = {
      {"dGhlIHNhbXBsZSBub25jZQ==", true},
      {"AAAAAAAAAAAAAAAAAAAAAA==", true},
      {"dGhlIHNhbXBsZSBub25jZQ=", false},    // 23 characters
      {"dGhlIHNhbXBsZSBub25jZR==", false},   // bits beyond the 16th byte
      {"dGhlIHNhbXBsZSBub25j*Q==", false},   // not Base64
      {"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsWebSocketKey(c.key), c.valid) << c.key;
}

TEST(WebSocketFrames, HeadsOfEachLengthForm) {
  // RFC 6455 section 5.2: 7-bit lengths up to 125, then 16-bit, then 64-bit.
  const struct {
    uint64_t length;
    std::string head;
  } cases[] = {
      {0, std::string("\x81\x00", 2)},
      {125, "\x81\x7d"},
      {126, "\x81\x7e\x00\x7e"s},
      {65535, "\x81\x7e\xff\xff"},
      {65536, "\x81\x7f\x00\x00\x00\x00\x00\x01\x00\x00"s},
  };
  for (const auto& c : cases) {
    std::string out;
    AppendWsFrameHead(WsOpcode::kText, c.length, out);
    EXPECT_EQ(Hex(out), Hex(c.head)) << c.length;
  }
  std::string close;
  AppendWsClose(kWsTooBig, "too big", close);
  EXPECT_EQ(Hex(close), Hex("\x88\x09\x03\xf1too big"));
  // A reason is cut to the 125 bytes of a control frame, never inside a character.
  std::string cut;
  AppendWsClose(kWsPolicy, std::string(122, 'a') + "\xc3\xa9", cut);
  EXPECT_EQ(cut.size(), 2u + 2u + 122u);
  EXPECT_TRUE(IsValidUtf8(cut.substr(4)));
}

TEST(WebSocketDecoder, WholeMessagesAndControlFrames) {
  using K = WsEvent::Kind;
  const std::string big(70000, 'b');
  const struct {
    const char* what;
    std::string input;
    K kind;
    uint16_t code;
    std::string payload;
  } cases[] = {
      {"text", ClientFrame(0x81, "{\"op\":\"ping\"}"), K::kText, 0, "{\"op\":\"ping\"}"},
      {"empty text", ClientFrame(0x81, ""), K::kText, 0, ""},
      {"binary", ClientFrame(0x82, std::string("\0\xff", 2)), K::kBinary, 0, std::string("\0\xff", 2)},
      {"16-bit length", ClientFrame(0x81, std::string(300, 'a')), K::kText, 0, std::string(300, 'a')},
      {"64-bit length", ClientFrame(0x81, big), K::kText, 0, big},
      {"ping", ClientFrame(0x89, "hi"), K::kPing, 0, "hi"},
      {"pong", ClientFrame(0x8A, "hi"), K::kPong, 0, ""},
      {"close with code", ClientFrame(0x88, "\x03\xe8" "bye"), K::kClose, 1000, "bye"},
      {"close without code", ClientFrame(0x88, ""), K::kClose, 1000, ""},
      {"close of one byte", ClientFrame(0x88, "\x03"), K::kError, kWsProtocolError, ""},
      {"unmasked", ClientFrame(0x81, "a", ""), K::kError, kWsProtocolError, ""},
      {"reserved bit", ClientFrame(0xC1, "a"), K::kError, kWsProtocolError, ""},
      {"unknown opcode", ClientFrame(0x83, "a"), K::kError, kWsProtocolError, ""},
      {"unknown control", ClientFrame(0x8B, "a"), K::kError, kWsProtocolError, ""},
      {"fragmented ping", ClientFrame(0x09, "a"), K::kError, kWsProtocolError, ""},
      {"long ping", ClientFrame(0x89, std::string(126, 'p')), K::kError, kWsProtocolError, ""},
      {"continuation first", ClientFrame(0x80, "a"), K::kError, kWsProtocolError, ""},
      {"not UTF-8", ClientFrame(0x81, "\xc3"), K::kError, kWsInvalidData, ""},
      {"a surrogate", ClientFrame(0x81, "\xed\xa0\x80"), K::kError, kWsInvalidData, ""},
      {"overlong", ClientFrame(0x81, "\xc0\xaf"), K::kError, kWsInvalidData, ""},
      {"four bytes", ClientFrame(0x81, "\xf0\x9f\x98\x80"), K::kText, 0, "\xf0\x9f\x98\x80"},
      {"binary not UTF-8", ClientFrame(0x82, "\xc3"), K::kBinary, 0, "\xc3"},
      {"at the limit", ClientFrame(0x81, std::string(1024, 'x')), K::kText, 0, std::string(1024, 'x')},
      {"over the limit", ClientFrame(0x81, std::string(1025, 'x')), K::kError, kWsTooBig, ""},
      // The size is refused from the head alone, before the payload arrives.
      {"over the limit, head only", ClientFrame(0x81, std::string(1025, 'x')).substr(0, 8), K::kError, kWsTooBig,
       ""},
      {"huge 64-bit length", std::string("\x81\xff\x80\x00\x00\x00\x00\x00\x00\x00", 10), K::kError,
       kWsProtocolError, ""},
      {"head cut", ClientFrame(0x81, std::string(300, 'a')).substr(0, 3), K::kNeedMore, 0, ""},
      {"payload cut", ClientFrame(0x81, "abc").substr(0, 8), K::kNeedMore, 0, ""},
      {"nothing", "", K::kNeedMore, 0, ""},
  };
  for (const auto& c : cases) {
    WsDecoder d(c.what == std::string("64-bit length") ? 1 << 20 : 1024);
    size_t consumed = 0;
    WsEvent e = d.Next(c.input, consumed);
    EXPECT_EQ(e.kind, c.kind) << c.what << ": " << e.payload;
    EXPECT_EQ(e.code, c.code) << c.what;
    if (c.kind != K::kError) {
      EXPECT_EQ(e.payload, c.payload) << c.what;
      EXPECT_EQ(consumed, c.kind == K::kNeedMore ? 0u : c.input.size()) << c.what;
    }
  }
}

// Feeds every event of input through one decoder, `step` bytes arriving at a time.
std::vector<WsEvent> DecodeAll(WsDecoder& d, const std::string& input, size_t step) {
  std::vector<WsEvent> events;
  std::string buffer;
  for (size_t at = 0; at < input.size(); at += step) {
    buffer += input.substr(at, step);
    for (;;) {
      size_t consumed = 0;
      WsEvent e = d.Next(buffer, consumed);
      buffer.erase(0, consumed);
      if (e.kind == WsEvent::Kind::kNeedMore) {
        if (consumed) continue;
        break;
      }
      events.push_back(std::move(e));
      if (events.back().kind == WsEvent::Kind::kError) return events;
    }
  }
  return events;
}

TEST(WebSocketDecoder, FragmentsAndInterleavedControlFrames) {
  using K = WsEvent::Kind;
  const std::string input = ClientFrame(0x01, "[{\"a\":") + ClientFrame(0x89, "p") + ClientFrame(0x00, "1}") +
                            ClientFrame(0x80, ",2]") + ClientFrame(0x81, "next");
  for (size_t step : {input.size(), size_t{1}, size_t{5}}) {
    WsDecoder d(1024);
    std::vector<WsEvent> events = DecodeAll(d, input, step);
    ASSERT_EQ(events.size(), 3u) << step;
    EXPECT_EQ(events[0].kind, K::kPing);
    EXPECT_EQ(events[1].kind, K::kText);
    EXPECT_EQ(events[1].payload, "[{\"a\":1},2]");
    EXPECT_EQ(events[2].payload, "next");
    EXPECT_FALSE(d.InMessage());
  }
  const struct {
    const char* what;
    std::string input;
    uint16_t code;
  } errors[] = {
      {"a new message inside a fragmented one", ClientFrame(0x01, "a") + ClientFrame(0x81, "b"), kWsProtocolError},
      {"fragments over the limit together", ClientFrame(0x01, std::string(600, 'a')) +
                                                ClientFrame(0x80, std::string(600, 'a')), kWsTooBig},
      {"a character split across fragments is whole", ClientFrame(0x01, "\xc3") + ClientFrame(0x80, "\xa9"), 0},
  };
  for (const auto& c : errors) {
    WsDecoder d(1024);
    std::vector<WsEvent> events = DecodeAll(d, c.input, c.input.size());
    ASSERT_FALSE(events.empty()) << c.what;
    if (c.code) {
      EXPECT_EQ(events.back().kind, K::kError) << c.what;
      EXPECT_EQ(events.back().code, c.code) << c.what;
    } else {
      EXPECT_EQ(events.back().kind, K::kText) << c.what;
    }
  }
}

}  // namespace
}  // namespace zentrak::host
