// WebSocket framing (RFC 6455) for the host's page channel, without I/O: the handshake's accept
// key, the frames the host sends, and a decoder of the frames a browser sends. No extension is
// ever negotiated, so every reserved bit must be clear.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zentrak::host {

// The GUID that RFC 6455 section 1.3 appends to the client's key.
inline constexpr std::string_view kWebSocketGuid = "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";

enum class WsOpcode : uint8_t {
  kContinuation = 0x0,
  kText = 0x1,
  kBinary = 0x2,
  kClose = 0x8,
  kPing = 0x9,
  kPong = 0xA,
};

// Close codes of RFC 6455 section 7.4.1 that the host uses.
enum WsCloseCode : uint16_t {
  kWsNormal = 1000,
  kWsGoingAway = 1001,
  kWsProtocolError = 1002,
  kWsInvalidData = 1007,
  kWsPolicy = 1008,
  kWsTooBig = 1009,
};

// The 20-byte SHA-1 digest of data (FIPS 180-4), as bytes.
std::string Sha1(std::string_view data);

// The Sec-WebSocket-Accept value for a request's Sec-WebSocket-Key: the Base64 text of the SHA-1
// of the key followed by kWebSocketGuid.
std::string WebSocketAccept(std::string_view key);

// Whether a Sec-WebSocket-Key is a valid one: the Base64 text of 16 bytes (24 characters).
bool IsWebSocketKey(std::string_view key);

// Appends one whole unmasked frame (FIN set), as a server sends it.
void AppendWsFrame(WsOpcode opcode, std::string_view payload, std::string& out);
// Appends only the head of such a frame, for a payload of `length` bytes that the caller
// appends itself.
void AppendWsFrameHead(WsOpcode opcode, uint64_t length, std::string& out);
// Appends a close frame with `code` and a reason (cut to fit the 125 bytes of a control frame).
void AppendWsClose(uint16_t code, std::string_view reason, std::string& out);

// What the decoder found at the front of the input.
struct WsEvent {
  enum class Kind {
    kNeedMore,  // no whole frame yet
    kText,      // a whole text message (fragments joined), in payload
    kBinary,    // a whole binary message, in payload
    kPing,      // payload: to be sent back in a pong
    kPong,
    kClose,     // the peer closes: code (kWsNormal when it gave none) and payload (its reason)
    kError,     // the peer broke the protocol: close with code; payload says why
  };
  Kind kind = Kind::kNeedMore;
  uint16_t code = 0;
  std::string payload;
};

// Decodes the frames a client sends: masked (an unmasked one is an error), fragmented messages
// joined, control frames between fragments passed on, messages over max_message bytes refused
// (1009, with the size and the limit in the words of an HTTP body's refusal) before their
// payload is read, and text messages that are not UTF-8 refused (1007).
class WsDecoder {
 public:
  explicit WsDecoder(size_t max_message) : max_message_(max_message) {}

  // Looks at `input` and reports its first event; `consumed` is set to the bytes it took, which
  // the caller drops before the next call. kNeedMore with consumed > 0 took in a fragment of a
  // message: call again at once. kNeedMore with consumed == 0 needs more bytes: call again
  // with the same bytes and more after them. After kError the decoder must not be used again.
  WsEvent Next(std::string_view input, size_t& consumed);

  // Whether a fragmented message is under way (its first frame is in, its last is not).
  bool InMessage() const noexcept { return in_message_; }

 private:
  size_t max_message_;
  bool in_message_ = false;
  WsOpcode message_opcode_ = WsOpcode::kText;
  std::string message_;
};

// Whether text is well-formed UTF-8 (RFC 3629: no overlong forms, no surrogates, at most
// U+10FFFF).
bool IsValidUtf8(std::string_view text) noexcept;

}  // namespace zentrak::host
