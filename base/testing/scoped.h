// For tests of any layer: a temporary folder, an environment variable and a locale that last for
// a scope.
// POSIX only, like the unit tests themselves; header-only so that a test links nothing for it.
#pragma once

#include <stdlib.h>

#include <cerrno>
#include <clocale>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

namespace zentrak {

// A fresh, empty folder under the system's temporary folder, named "<prefix>-XXXXXX", that is
// removed with everything in it when the object goes. Raises std::system_error when it cannot be
// made.
class ScopedTempDir {
 public:
  explicit ScopedTempDir(std::string_view prefix = "zentrak") {
    std::string pattern = (std::filesystem::temp_directory_path() / prefix).string() + "-XXXXXX";
    if (!::mkdtemp(pattern.data())) throw std::system_error(errno, std::generic_category(), "mkdtemp " + pattern);
    path_ = pattern;
  }
  ~ScopedTempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScopedTempDir(const ScopedTempDir&) = delete;
  ScopedTempDir& operator=(const ScopedTempDir&) = delete;

  const std::filesystem::path& path() const noexcept { return path_; }
  // The path of `name` inside the folder, as text.
  std::string File(std::string_view name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// Sets an environment variable, or removes it when `value` is nullopt, and gives it back its
// earlier value (or absence) when the object goes. Scopes nest: restore in reverse order, as
// destructors do.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, std::optional<std::string> value) : name_(std::move(name)) {
    if (const char* old = ::getenv(name_.c_str())) old_ = old;
    Put(value);
  }
  ~ScopedEnv() { Put(old_); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  void Put(const std::optional<std::string>& value) const {
    if (value)
      ::setenv(name_.c_str(), value->c_str(), 1);
    else
      ::unsetenv(name_.c_str());
  }

  std::string name_;
  std::optional<std::string> old_;
};

// Switches a locale category of the process to `name` and switches it back when the object goes.
// Installed() is false, and nothing changed, when the system has no such locale; a test then
// skips.
class ScopedLocale {
 public:
  ScopedLocale(int category, const char* name) : category_(category) {
    if (const char* old = std::setlocale(category, nullptr)) old_ = old;
    installed_ = std::setlocale(category, name) != nullptr;
  }
  ~ScopedLocale() {
    if (installed_) std::setlocale(category_, old_.c_str());
  }
  ScopedLocale(const ScopedLocale&) = delete;
  ScopedLocale& operator=(const ScopedLocale&) = delete;

  bool Installed() const noexcept { return installed_; }

 private:
  int category_;
  std::string old_;
  bool installed_ = false;
};

}  // namespace zentrak
