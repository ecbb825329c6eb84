// Environment and files on Windows: paths are the platform's own and are used as they are.
#include "platform/env.h"

#include <windows.h>

#include <string>

namespace zentrak::platform {

std::string GetEnvironment(const char* name) {
  DWORD n = GetEnvironmentVariableA(name, nullptr, 0);
  if (n == 0) return std::string();
  std::string value(n, '\0');
  DWORD got = GetEnvironmentVariableA(name, value.data(), n);
  value.resize(got < n ? got : 0);
  return value;
}

std::string UserProfileDir() {
  std::string v = GetEnvironment("USERPROFILE");
  if (v.size() > 254) v.resize(254);
  return v;
}

std::string NativePath(std::string_view system_path) { return std::string(system_path); }

bool DirectoryExists(std::string_view system_path) {
  std::string p(system_path);
  DWORD attributes = GetFileAttributesA(p.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool MakeDirectory(std::string_view system_path) {
  std::string p(system_path);
  return CreateDirectoryA(p.c_str(), nullptr) != 0;
}

}  // namespace zentrak::platform
