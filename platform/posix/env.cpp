// Environment, profile folder and path mapping on Linux.
#include "platform/env.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdlib>
#include <string>

#include "base/ascii.h"

namespace zentrak::platform {

std::string GetEnvironment(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

std::string UserProfileDir() {
  std::string v = GetEnvironment("USERPROFILE");
  if (v.empty()) v = GetEnvironment("HOME");
  if (v.size() > 254) v.resize(254);
  return v;
}

std::string NativePath(std::string_view system_path) {
  std::string p(system_path);
  for (auto& c : p) {
    if (c == '\\') c = '/';
  }
  if (p.size() >= 2 && p[1] == ':' && AsciiUpper(p[0]) >= 'A' && AsciiUpper(p[0]) <= 'Z') {
    const char letter = AsciiUpper(p[0]);
    std::string var = std::string("ZENTRAK_DRIVE_") + letter;
    std::string root = GetEnvironment(var.c_str());
    if (root.empty()) {
      std::string home = GetEnvironment("HOME");
      std::string base = home + "/.local/share/zentrak/drives";
      if (!home.empty()) {
        ::mkdir((home + "/.local").c_str(), 0700);
        ::mkdir((home + "/.local/share").c_str(), 0700);
        ::mkdir((home + "/.local/share/zentrak").c_str(), 0700);
        ::mkdir(base.c_str(), 0700);
      }
      root = base + "/" + AsciiLower(letter);
    }
    ::mkdir(root.c_str(), 0700);  // the drive's root
    while (root.size() > 1 && root.back() == '/') root.pop_back();
    std::string rest = p.substr(2);
    if (!rest.empty() && rest[0] != '/') rest.insert(rest.begin(), '/');
    p = root + rest;
  }
  return p;
}

bool DirectoryExists(std::string_view system_path) {
  struct stat st;
  std::string p = NativePath(system_path);
  return ::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool MakeDirectory(std::string_view system_path) {
  std::string p = NativePath(system_path);
  return ::mkdir(p.c_str(), 0777) == 0;
}

}  // namespace zentrak::platform
