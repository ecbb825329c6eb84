// WebSocket framing: SHA-1 and Base64 for the handshake, frame heads, and the client frame
// decoder. Relies on nothing but the standard library, so the fuzz target links it alone.
#include "host/websocket.h"

#include <algorithm>
#include <cstring>

namespace zentrak::host {
namespace {

uint32_t Rotl(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string Base64(std::string_view bytes) {
  std::string out;
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    uint32_t v = (uint32_t{static_cast<uint8_t>(bytes[i])} << 16) | (uint32_t{static_cast<uint8_t>(bytes[i + 1])} << 8) |
                 static_cast<uint8_t>(bytes[i + 2]);
    out += kBase64[v >> 18];
    out += kBase64[(v >> 12) & 63];
    out += kBase64[(v >> 6) & 63];
    out += kBase64[v & 63];
  }
  size_t rest = bytes.size() - i;
  if (rest) {
    uint32_t v = uint32_t{static_cast<uint8_t>(bytes[i])} << 16;
    if (rest == 2) v |= uint32_t{static_cast<uint8_t>(bytes[i + 1])} << 8;
    out += kBase64[v >> 18];
    out += kBase64[(v >> 12) & 63];
    out += rest == 2 ? kBase64[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

// XORs data with the 4-byte mask, the mask's first byte on data[0].
void Unmask(char* data, size_t n, const uint8_t mask[4]) {
  uint64_t wide;
  uint8_t m8[8];
  for (int i = 0; i < 8; ++i) m8[i] = mask[i & 3];
  std::memcpy(&wide, m8, 8);
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t v;
    std::memcpy(&v, data + i, 8);
    v ^= wide;
    std::memcpy(data + i, &v, 8);
  }
  for (; i < n; ++i) data[i] = static_cast<char>(data[i] ^ mask[i & 3]);
}

WsEvent Error(uint16_t code, std::string why) {
  WsEvent e;
  e.kind = WsEvent::Kind::kError;
  e.code = code;
  e.payload = std::move(why);
  return e;
}

}  // namespace

std::string Sha1(std::string_view data) {
  uint32_t h[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
  std::string msg(data);
  uint64_t bits = static_cast<uint64_t>(data.size()) * 8;
  msg += '\x80';
  while (msg.size() % 64 != 56) msg += '\0';
  for (int i = 7; i >= 0; --i) msg += static_cast<char>((bits >> (i * 8)) & 0xFF);
  for (size_t block = 0; block < msg.size(); block += 64) {
    uint32_t w[80];
    for (int t = 0; t < 16; ++t) {
      const auto* p = reinterpret_cast<const uint8_t*>(msg.data() + block + t * 4);
      w[t] = (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
    }
    for (int t = 16; t < 80; ++t) w[t] = Rotl(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
    for (int t = 0; t < 80; ++t) {
      uint32_t f, k;
      if (t < 20) {
        f = (b & c) | (~b & d);
        k = 0x5A827999;
      } else if (t < 40) {
        f = b ^ c ^ d;
        k = 0x6ED9EBA1;
      } else if (t < 60) {
        f = (b & c) | (b & d) | (c & d);
        k = 0x8F1BBCDC;
      } else {
        f = b ^ c ^ d;
        k = 0xCA62C1D6;
      }
      uint32_t temp = Rotl(a, 5) + f + e + k + w[t];
      e = d;
      d = c;
      c = Rotl(b, 30);
      b = a;
      a = temp;
    }
    h[0] += a;
    h[1] += b;
    h[2] += c;
    h[3] += d;
    h[4] += e;
  }
  std::string out;
  for (uint32_t v : h)
    for (int i = 3; i >= 0; --i) out += static_cast<char>((v >> (i * 8)) & 0xFF);
  return out;
}

std::string WebSocketAccept(std::string_view key) {
  std::string text(key);
  text += kWebSocketGuid;
  return Base64(Sha1(text));
}

bool IsWebSocketKey(std::string_view key) {
  if (key.size() != 24 || key.substr(22) != "==") return false;
  for (size_t i = 0; i < 22; ++i)
    if (!std::strchr(kBase64, key[i]) || key[i] == '\0') return false;
  // The last character before the padding carries only 2 bits of the 16th byte.
  return std::strchr("AQgw", key[21]) != nullptr;
}

void AppendWsFrameHead(WsOpcode opcode, uint64_t length, std::string& out) {
  out += static_cast<char>(0x80 | static_cast<uint8_t>(opcode));
  if (length < 126) {
    out += static_cast<char>(length);
  } else if (length <= 0xFFFF) {
    out += static_cast<char>(126);
    out += static_cast<char>(length >> 8);
    out += static_cast<char>(length & 0xFF);
  } else {
    out += static_cast<char>(127);
    for (int i = 7; i >= 0; --i) out += static_cast<char>((length >> (i * 8)) & 0xFF);
  }
}

void AppendWsFrame(WsOpcode opcode, std::string_view payload, std::string& out) {
  AppendWsFrameHead(opcode, payload.size(), out);
  out.append(payload);
}

void AppendWsClose(uint16_t code, std::string_view reason, std::string& out) {
  std::string payload;
  payload += static_cast<char>(code >> 8);
  payload += static_cast<char>(code & 0xFF);
  reason = reason.substr(0, 123);
  // A reason cut inside a UTF-8 sequence would make the frame invalid.
  while (!reason.empty() && !IsValidUtf8(reason)) reason.remove_suffix(1);
  payload.append(reason);
  AppendWsFrame(WsOpcode::kClose, payload, out);
}

bool IsValidUtf8(std::string_view text) noexcept {
  const auto* p = reinterpret_cast<const uint8_t*>(text.data());
  size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    // ASCII runs, eight bytes at a time.
    while (i + 8 <= n) {
      uint64_t v;
      std::memcpy(&v, p + i, 8);
      if (v & 0x8080808080808080ull) break;
      i += 8;
    }
    if (i >= n) break;
    uint8_t c = p[i];
    if (c < 0x80) {
      ++i;
      continue;
    }
    size_t len;
    uint32_t cp;
    if (c >= 0xC2 && c <= 0xDF) {
      len = 2;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3;
      cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + len > n) return false;
    for (size_t k = 1; k < len; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (p[i + k] & 0x3F);
    }
    if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    i += len;
  }
  return true;
}

WsEvent WsDecoder::Next(std::string_view input, size_t& consumed) {
  consumed = 0;
  if (input.size() < 2) return {};
  const auto* p = reinterpret_cast<const uint8_t*>(input.data());
  const bool fin = p[0] & 0x80;
  if (p[0] & 0x70) return Error(kWsProtocolError, "a reserved bit is set (no extension was agreed)");
  const uint8_t op = p[0] & 0x0F;
  if (!(p[1] & 0x80)) return Error(kWsProtocolError, "a client frame is not masked");
  uint64_t length = p[1] & 0x7F;
  size_t head = 2;
  if (length == 126) {
    if (input.size() < 4) return {};
    length = (uint64_t{p[2]} << 8) | p[3];
    head = 4;
  } else if (length == 127) {
    if (input.size() < 10) return {};
    length = 0;
    for (int i = 0; i < 8; ++i) length = (length << 8) | p[2 + i];
    if (length >> 63) return Error(kWsProtocolError, "a frame length has its top bit set");
    head = 10;
  }
  const bool control = op & 0x8;
  if (control) {
    if (op != 0x8 && op != 0x9 && op != 0xA) return Error(kWsProtocolError, "an unknown control opcode");
    if (!fin) return Error(kWsProtocolError, "a control frame is fragmented");
    if (length > 125) return Error(kWsProtocolError, "a control frame has more than 125 bytes");
  } else if (op == 0x0) {
    if (!in_message_) return Error(kWsProtocolError, "a continuation frame without a message");
  } else if (op == 0x1 || op == 0x2) {
    if (in_message_) return Error(kWsProtocolError, "a new message inside a fragmented one");
  } else {
    return Error(kWsProtocolError, "an unknown opcode");
  }
  // The size is checked from the head alone, before a byte of the payload is held.
  if (!control && length > max_message_ - std::min<size_t>(max_message_, message_.size()))
    return Error(kWsTooBig, "Bad request: the body has " + std::to_string(message_.size() + length) +
                                " bytes, more than the " + std::to_string(max_message_) + " a request may have");
  if (input.size() < head + 4 || input.size() - head - 4 < length) return {};
  uint8_t mask[4];
  std::memcpy(mask, p + head, 4);
  std::string_view payload = input.substr(head + 4, static_cast<size_t>(length));
  consumed = head + 4 + static_cast<size_t>(length);

  WsEvent event;
  if (control) {
    std::string data(payload);
    Unmask(data.data(), data.size(), mask);
    if (op == 0x9) {
      event.kind = WsEvent::Kind::kPing;
      event.payload = std::move(data);
    } else if (op == 0xA) {
      event.kind = WsEvent::Kind::kPong;
    } else {
      if (data.size() == 1) return Error(kWsProtocolError, "a close frame of one byte");
      event.kind = WsEvent::Kind::kClose;
      event.code = kWsNormal;
      if (data.size() >= 2) {
        event.code = static_cast<uint16_t>((static_cast<uint8_t>(data[0]) << 8) | static_cast<uint8_t>(data[1]));
        event.payload = data.substr(2);
        if (!IsValidUtf8(event.payload)) return Error(kWsInvalidData, "a close reason that is not UTF-8");
      }
    }
    return event;
  }
  if (op != 0x0) {
    message_opcode_ = static_cast<WsOpcode>(op);
    message_.clear();
  }
  size_t at = message_.size();
  message_.append(payload);
  Unmask(message_.data() + at, payload.size(), mask);
  in_message_ = !fin;
  if (!fin) {
    // Nothing to report yet; the caller goes on with the bytes after this frame.
    event.kind = WsEvent::Kind::kNeedMore;
    return event;
  }
  if (message_opcode_ == WsOpcode::kText && !IsValidUtf8(message_))
    return Error(kWsInvalidData, "a text message that is not UTF-8");
  event.kind = message_opcode_ == WsOpcode::kText ? WsEvent::Kind::kText : WsEvent::Kind::kBinary;
  event.payload = std::move(message_);
  message_ = std::string();
  return event;
}

}  // namespace zentrak::host
