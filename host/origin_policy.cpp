// The Host header check and origin decisions.
#include "host/origin_policy.h"

#include "base/ascii.h"

namespace zentrak::host {
namespace {

// Character classes of hosts and schemes, in ASCII whatever the locale: under a Latin-1 locale
// the C library would count 'é' as a letter.
constexpr bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }
constexpr bool IsAsciiAlnum(char c) { return IsAsciiDigit(c) || (AsciiLower(c) >= 'a' && AsciiLower(c) <= 'z'); }
constexpr bool IsAsciiHexDigit(char c) { return IsAsciiDigit(c) || (AsciiLower(c) >= 'a' && AsciiLower(c) <= 'f'); }

// A decimal port 1..65535 without sign or leading zeros beyond "0" itself.
std::optional<uint32_t> ParsePort(std::string_view s) {
  if (s.empty() || s.size() > 5) return std::nullopt;
  uint32_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + static_cast<uint32_t>(c - '0');
  }
  if (v == 0 || v > 65535) return std::nullopt;
  return v;
}

// Splits "host[:port]" or "[v6]:port" into host and port text; false when malformed.
bool SplitHostPort(std::string_view text, std::string_view& host, std::string_view& port) {
  port = {};
  if (!text.empty() && text.front() == '[') {
    size_t close = text.find(']');
    if (close == std::string_view::npos) return false;
    host = text.substr(0, close + 1);
    std::string_view rest = text.substr(close + 1);
    if (rest.empty()) return true;
    if (rest.front() != ':') return false;
    port = rest.substr(1);
    return !port.empty();
  }
  size_t colon = text.rfind(':');
  if (colon == std::string_view::npos) {
    host = text;
    return !host.empty();
  }
  host = text.substr(0, colon);
  port = text.substr(colon + 1);
  return !host.empty() && !port.empty() && host.find(':') == std::string_view::npos;
}

bool ValidHostChars(std::string_view host) {
  if (host.empty()) return false;
  if (host.front() == '[') {
    for (char c : host.substr(1, host.size() - 2))
      if (!IsAsciiHexDigit(c) && c != ':' && c != '.') return false;
    return host.size() > 2;
  }
  for (char c : host)
    if (!IsAsciiAlnum(c) && c != '-' && c != '.' && c != '_') return false;
  return true;
}

}  // namespace

bool IsLoopbackHost(std::string_view host_header, uint16_t port) {
  std::string_view host, port_text;
  if (!SplitHostPort(host_header, host, port_text)) return false;
  uint32_t p = 80;
  if (!port_text.empty()) {
    auto parsed = ParsePort(port_text);
    if (!parsed) return false;
    p = *parsed;
  }
  if (p != port) return false;
  std::string h = AsciiLowered(host);
  return h == "127.0.0.1" || h == "[::1]" || h == "localhost";
}

std::optional<std::string> NormalizeOrigin(std::string_view text) {
  if (text == "null") return std::string("null");
  size_t sep = text.find("://");
  if (sep == std::string_view::npos || sep == 0) return std::nullopt;
  std::string scheme = AsciiLowered(text.substr(0, sep));
  for (char c : scheme)
    if (!IsAsciiAlnum(c) && c != '+' && c != '-' && c != '.') return std::nullopt;
  std::string_view rest = text.substr(sep + 3);
  if (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
  if (rest.find_first_of("/?#@") != std::string_view::npos) return std::nullopt;
  std::string_view host, port_text;
  if (!SplitHostPort(rest, host, port_text) || !ValidHostChars(host)) return std::nullopt;
  std::string out = scheme + "://" + AsciiLowered(host);
  if (!port_text.empty()) {
    auto port = ParsePort(port_text);
    if (!port) return std::nullopt;
    bool default_port = (scheme == "http" && *port == 80) || (scheme == "https" && *port == 443);
    if (!default_port) out += ":" + std::to_string(*port);
  }
  return out;
}

OriginPolicy::OriginPolicy(uint16_t port) {
  const std::string p = ":" + std::to_string(port);
  own_ = {"http://127.0.0.1" + p, "http://[::1]" + p, "http://localhost" + p};
}

void OriginPolicy::Allow(const std::string& origin) {
  if (origin == "null") {
    allow_null_ = true;
    return;
  }
  allowed_.insert(origin);
}

void OriginPolicy::Block(const std::string& origin) { blocked_.insert(origin); }

bool OriginPolicy::IsOwnOrigin(std::string_view origin) const { return own_.count(std::string(origin)) != 0; }

OriginDecision OriginPolicy::Decide(std::string_view origin_header) const {
  auto origin = NormalizeOrigin(origin_header);
  if (!origin) return OriginDecision::kBlocked;
  if (*origin == "null") return allow_null_ ? OriginDecision::kApproved : OriginDecision::kBlocked;
  if (own_.count(*origin)) return OriginDecision::kApproved;
  if (blocked_.count(*origin)) return OriginDecision::kBlocked;
  if (allowed_.count(*origin)) return OriginDecision::kApproved;
  return OriginDecision::kUnknown;
}

}  // namespace zentrak::host
