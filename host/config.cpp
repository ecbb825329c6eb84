// Reading and updating the configuration file.
#include "host/config.h"

#include <sys/stat.h>
#include <unistd.h>

#include <ctime>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "host/origin_policy.h"

namespace zentrak::host {
namespace {

using json = nlohmann::ordered_json;
namespace fs = std::filesystem;

// The file's tree, or null when the file does not exist.
json ReadTree(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::error_code ec;
    if (!fs::exists(path, ec)) return nullptr;
    throw ConfigError(path + ": cannot be read");
  }
  std::stringstream text;
  text << in.rdbuf();
  json tree;
  try {
    tree = json::parse(text.str());
  } catch (const json::parse_error& e) {
    throw ConfigError(path + ": not JSON (" + e.what() + ")");
  }
  if (!tree.is_object()) throw ConfigError(path + ": must hold a JSON object");
  return tree;
}

uint64_t Unsigned(const json& tree, const char* key, uint64_t min, uint64_t max, const std::string& path) {
  const json& v = tree.at(key);
  bool fits = v.is_number_unsigned() || (v.is_number_integer() && v.get<int64_t>() >= 0);
  if (!fits || v.get<uint64_t>() < min || v.get<uint64_t>() > max)
    throw ConfigError(path + ": \"" + key + "\" must be an integer from " + std::to_string(min) + " to " +
                      std::to_string(max));
  return v.get<uint64_t>();
}

std::vector<std::string> Origins(const json& tree, const char* key, const std::string& path) {
  const json& v = tree.at(key);
  if (!v.is_array()) throw ConfigError(path + ": \"" + key + "\" must be a list of origins");
  std::vector<std::string> out;
  for (const json& e : v) {
    auto origin = e.is_string() ? NormalizeOrigin(e.get<std::string>()) : std::nullopt;
    if (!origin) throw ConfigError(path + ": \"" + key + "\" holds " + e.dump() + ", which is no origin");
    out.push_back(*origin);
  }
  return out;
}

// When each answer was given: {"https://a.example": "2026-12-08T16:20:00Z", ...}.
constexpr const char* kDecidedAt = "decidedAt";

// Replaces the file in one rename, creating its folder when missing.
void WriteTree(const std::string& path, const json& tree) {
  fs::path target(path);
  if (target.has_parent_path()) fs::create_directories(target.parent_path());
  std::string temp = path + ".tmp" + std::to_string(::getpid());
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << tree.dump(2) << '\n';
    if (!out.flush()) throw ConfigError(temp + ": cannot be written");
  }
  fs::rename(temp, target);
}

// Removes every spelling of origin from the list at key; returns whether one was there.
bool EraseOrigin(json& tree, const char* key, const std::string& origin) {
  if (!tree.contains(key) || !tree[key].is_array()) return false;
  auto& list = tree[key];
  auto end = std::remove_if(list.begin(), list.end(), [&](const json& e) {
    return e.is_string() && NormalizeOrigin(e.get<std::string>()) == origin;
  });
  bool found = end != list.end();
  list.erase(end, list.end());
  return found;
}

}  // namespace

std::string UtcTimestamp() {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&now, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return text;
}

bool ConfigFile::Forget(const std::string& origin, bool& found, std::string& error) const {
  found = false;
  try {
    json tree = ReadTree(path_);
    if (tree.is_null()) return true;
    bool allowed = EraseOrigin(tree, "allowedOrigins", origin);
    bool blocked = EraseOrigin(tree, "blockedOrigins", origin);
    found = allowed || blocked;
    if (tree.contains(kDecidedAt) && tree[kDecidedAt].is_object()) found = tree[kDecidedAt].erase(origin) || found;
    if (found) WriteTree(path_, tree);
    return true;
  } catch (const std::exception& e) {
    error = e.what();
    return false;
  }
}

std::vector<SiteAnswer> ConfigFile::Sites() const {
  json tree = ReadTree(path_);
  std::vector<SiteAnswer> out;
  if (tree.is_null()) return out;
  const json* when = tree.contains(kDecidedAt) && tree[kDecidedAt].is_object() ? &tree[kDecidedAt] : nullptr;
  for (bool allowed : {true, false}) {
    const char* key = allowed ? "allowedOrigins" : "blockedOrigins";
    if (!tree.contains(key)) continue;
    for (const std::string& origin : Origins(tree, key, path_)) {
      SiteAnswer a{origin, allowed, {}};
      if (when && when->contains(origin) && (*when)[origin].is_string()) a.decided_at = (*when)[origin];
      out.push_back(std::move(a));
    }
  }
  return out;
}

FileStamp ConfigFile::Stamp() const {
  struct stat st;
  FileStamp s;
  if (::stat(path_.c_str(), &st) != 0) return s;
  s.exists = true;
  s.device = st.st_dev;
  s.inode = st.st_ino;
  s.size = static_cast<uint64_t>(st.st_size);
  s.modified_ns = int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec;
  return s;
}

std::string DefaultConfigPath() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && *xdg) return std::string(xdg) + "/zentrak/host.json";
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : ".") + "/.config/zentrak/host.json";
}

HostSettings ConfigFile::Load(HostSettings s) const {
  json tree = ReadTree(path_);
  if (tree.is_null()) return s;
  if (tree.contains("port")) s.port = static_cast<uint16_t>(Unsigned(tree, "port", 0, 65535, path_));
  if (tree.contains("idleTimeoutSeconds"))
    s.idle_timeout_seconds = static_cast<unsigned>(Unsigned(tree, "idleTimeoutSeconds", 1, 86400 * 7, path_));
  if (tree.contains("maxSessions")) s.max_sessions = Unsigned(tree, "maxSessions", 1, 100000, path_);
  if (tree.contains("maxObjectsPerSession"))
    s.max_objects_per_session = Unsigned(tree, "maxObjectsPerSession", 1, 1000000, path_);
  if (tree.contains("maxRequestBytes"))
    s.max_request_bytes = Unsigned(tree, "maxRequestBytes", 1024, uint64_t{1} << 32, path_);
  if (tree.contains("allowNullOrigin")) {
    if (!tree.at("allowNullOrigin").is_boolean()) throw ConfigError(path_ + ": \"allowNullOrigin\" must be true or false");
    s.allow_null_origin = tree["allowNullOrigin"].get<bool>();
  }
  if (tree.contains("allowedOrigins")) {
    auto more = Origins(tree, "allowedOrigins", path_);
    s.allowed_origins.insert(s.allowed_origins.end(), more.begin(), more.end());
  }
  if (tree.contains("blockedOrigins")) {
    auto more = Origins(tree, "blockedOrigins", path_);
    s.blocked_origins.insert(s.blocked_origins.end(), more.begin(), more.end());
  }
  return s;
}

bool ConfigFile::Remember(const std::string& origin, bool allow, std::string& error, const std::string& when) const {
  try {
    json tree = ReadTree(path_);
    if (tree.is_null()) tree = json::object();
    const char* keep = allow ? "allowedOrigins" : "blockedOrigins";
    const char* drop = allow ? "blockedOrigins" : "allowedOrigins";
    for (const char* key : {keep, drop})
      if (!tree.contains(key) || !tree[key].is_array()) tree[key] = json::array();
    EraseOrigin(tree, drop, origin);
    bool present = std::any_of(tree[keep].begin(), tree[keep].end(), [&](const json& e) {
      return e.is_string() && NormalizeOrigin(e.get<std::string>()) == origin;
    });
    if (!present) tree[keep].push_back(origin);

    if (when.empty()) {
      if (tree.contains(kDecidedAt) && tree[kDecidedAt].is_object()) tree[kDecidedAt].erase(origin);
    } else {
      if (!tree.contains(kDecidedAt) || !tree[kDecidedAt].is_object()) tree[kDecidedAt] = json::object();
      tree[kDecidedAt][origin] = when;
    }
    WriteTree(path_, tree);
    return true;
  } catch (const std::exception& e) {
    error = e.what();
    return false;
  }
}

}  // namespace zentrak::host
