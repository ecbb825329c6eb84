// Which requests may reach the host: the Host header check that defeats DNS rebinding, and the
// decision on a page's origin (approved, blocked, or not yet asked). No I/O here; the server asks
// the user and stores answers through the configuration (host/config.h).
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace zentrak::host {

// True when a Host header names this host: 127.0.0.1, [::1] or localhost (any letter case) with
// `port`. A header without a port means port 80.
bool IsLoopbackHost(std::string_view host_header, uint16_t port);

// The canonical form of an origin, as browsers serialise it: lower-case scheme and host, no
// default port (80 for http, 443 for https), no trailing slash. "null" stays "null". Returns
// nothing for text that is not a scheme://host[:port] origin (a path, a query, user info or a
// bad port).
std::optional<std::string> NormalizeOrigin(std::string_view text);

enum class OriginDecision { kApproved, kBlocked, kUnknown };

class OriginPolicy {
 public:
  // The host's own pages (http://127.0.0.1:port, http://[::1]:port, http://localhost:port) are
  // always approved.
  explicit OriginPolicy(uint16_t port);

  // REQUIRES: origin is in canonical form (NormalizeOrigin). A block wins over an allow.
  void Allow(const std::string& origin);
  void Block(const std::string& origin);
  // Whether pages with `Origin: null` (file: pages, sandboxed frames) may be approved. Off by
  // default: such pages cannot be told apart, so none is asked about either.
  void SetAllowNull(bool allow) { allow_null_ = allow; }

  // The decision for an Origin header as it arrived (any form; non-canonical text is blocked).
  OriginDecision Decide(std::string_view origin_header) const;
  bool IsOwnOrigin(std::string_view origin) const;

 private:
  std::set<std::string> own_;
  std::set<std::string> allowed_;
  std::set<std::string> blocked_;
  bool allow_null_ = false;
};

}  // namespace zentrak::host
