// The host's settings: built-in defaults, the user's configuration file (JSON, by default
// $XDG_CONFIG_HOME/zentrak/host.json) and the answers the user gave about origins, which are
// written back to that file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <compare>
#include <string>
#include <vector>

namespace zentrak::host {

// The documented default port of the host.
constexpr uint16_t kDefaultPort = 48620;

// What one client may take of the host, by default. Each can be changed on the command line.
constexpr size_t kMaxConnections = 512;           // connections served at once
constexpr size_t kMaxConnectionsPerPeer = 128;    // of those, from one user (or one address, unchecked)
constexpr unsigned kHeadTimeoutSeconds = 10;      // from a head's first byte to its end
constexpr unsigned kBodyTimeoutSeconds = 30;      // a body with no byte arriving
constexpr unsigned kWriteTimeoutSeconds = 30;     // an answer with no byte taken by the client
constexpr size_t kMaxUnsentBytes = size_t{128} << 20;  // answers held for clients that have not read them
constexpr size_t kMaxSessionsPerOwner = 16;       // sessions of one origin, or of one local program's user

// A configuration file that cannot be read or holds a wrong value; the message names the file and
// the setting.
class ConfigError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct HostSettings {
  uint16_t port = kDefaultPort;             // 0 picks a free port
  unsigned idle_timeout_seconds = 600;      // a session unused this long is released
  size_t max_sessions = 64;                 // page loads served at once
  size_t max_objects_per_session = 4096;
  size_t max_request_bytes = 64u << 20;     // the body of one POST
  size_t max_sessions_per_owner = kMaxSessionsPerOwner;
  size_t max_connections = kMaxConnections;
  size_t max_connections_per_peer = kMaxConnectionsPerPeer;
  unsigned head_timeout_seconds = kHeadTimeoutSeconds;
  unsigned body_timeout_seconds = kBodyTimeoutSeconds;
  unsigned write_timeout_seconds = kWriteTimeoutSeconds;
  size_t max_unsent_bytes = kMaxUnsentBytes;
  // Whether connections from other users' programs are refused (the kernel names the owner of
  // each peer's socket). Off only by an explicit option, on systems where that cannot be known.
  bool check_peer_uid = true;
  bool allow_null_origin = false;           // `Origin: null` (file: pages)
  std::vector<std::string> allowed_origins;  // canonical origins
  std::vector<std::string> blocked_origins;
  // Of allowed_origins, those approved for this run only (--allow-origin): they stay approved
  // when the file's lists change under a running host.
  std::vector<std::string> run_allowed_origins;
};

// One origin the user answered about, as the configuration file keeps it.
struct SiteAnswer {
  std::string origin;      // canonical
  bool allowed = false;    // false: blocked
  std::string decided_at;  // "2026-12-08T16:20:00Z", or empty for an origin written into the file by hand
};

// What identifies one version of a file: a replaced or rewritten file has another stamp.
struct FileStamp {
  bool exists = false;
  uint64_t device = 0, inode = 0, size = 0;
  int64_t modified_ns = 0;
  bool operator==(const FileStamp&) const = default;
};

// The current time as "YYYY-MM-DDThh:mm:ssZ".
std::string UtcTimestamp();

// "$XDG_CONFIG_HOME/zentrak/host.json", or "$HOME/.config/zentrak/host.json" when
// XDG_CONFIG_HOME is not set.
std::string DefaultConfigPath();

class ConfigFile {
 public:
  explicit ConfigFile(std::string path) : path_(std::move(path)) {}
  const std::string& Path() const noexcept { return path_; }

  // Reads the file over `defaults`. A missing file leaves the defaults as they are.
  // Throws ConfigError for a file that is not JSON or has a setting of the wrong type or range;
  // origins in it are brought to canonical form, and one that is no origin is an error too.
  HostSettings Load(HostSettings defaults = {}) const;

  // Keeps the user's answer about `origin`: it goes into "allowedOrigins" or "blockedOrigins"
  // and out of the other list; every other setting in the file stays as it was. The file (and
  // its folder) is created when missing and replaced in one rename. Returns false and sets
  // `error` when it cannot be written.
  bool Remember(const std::string& origin, bool allow, std::string& error,
                const std::string& when = UtcTimestamp()) const;

  // Removes `origin` (canonical) from both lists, so that its pages are asked about again.
  // Sets `found` to whether it was in either. Returns false and sets `error` when the file
  // cannot be read or written; the file is then unchanged.
  bool Forget(const std::string& origin, bool& found, std::string& error) const;

  // The answers kept in the file: allowed origins first, each list in the file's order.
  // Throws ConfigError as Load does.
  std::vector<SiteAnswer> Sites() const;

  // The file's stamp now (exists false when there is none).
  FileStamp Stamp() const;

 private:
  std::string path_;
};

}  // namespace zentrak::host
