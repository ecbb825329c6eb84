// Reading and updating the configuration file.
#include "host/config.h"

#include <unistd.h>

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

}  // namespace

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

bool ConfigFile::Remember(const std::string& origin, bool allow, std::string& error) const {
  try {
    json tree = ReadTree(path_);
    if (tree.is_null()) tree = json::object();
    const char* keep = allow ? "allowedOrigins" : "blockedOrigins";
    const char* drop = allow ? "blockedOrigins" : "allowedOrigins";
    for (const char* key : {keep, drop})
      if (!tree.contains(key) || !tree[key].is_array()) tree[key] = json::array();
    auto& other = tree[drop];
    other.erase(std::remove_if(other.begin(), other.end(),
                               [&](const json& e) {
                                 return e.is_string() && NormalizeOrigin(e.get<std::string>()) == origin;
                               }),
                other.end());
    bool present = std::any_of(tree[keep].begin(), tree[keep].end(), [&](const json& e) {
      return e.is_string() && NormalizeOrigin(e.get<std::string>()) == origin;
    });
    if (!present) tree[keep].push_back(origin);

    fs::path target(path_);
    if (target.has_parent_path()) fs::create_directories(target.parent_path());
    std::string temp = path_ + ".tmp" + std::to_string(::getpid());
    {
      std::ofstream out(temp, std::ios::binary | std::ios::trunc);
      out << tree.dump(2) << '\n';
      if (!out.flush()) throw ConfigError(temp + ": cannot be written");
    }
    fs::rename(temp, target);
    return true;
  } catch (const std::exception& e) {
    error = e.what();
    return false;
  }
}

}  // namespace zentrak::host
