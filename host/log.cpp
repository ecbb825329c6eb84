// The log file: appended with O_APPEND, so that a second host of the same user (another port)
// interleaves whole lines instead of overwriting them.
#include "host/log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "host/config.h"

namespace zentrak::host {
namespace {

struct LogState {
  std::string path;
  int fd = -1;
  size_t max_bytes = kLogMaxBytes;
  bool verbose = false;
};

LogState& State() {
  static LogState state;
  return state;
}

int OpenFile(const std::string& path) { return ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600); }

}  // namespace

std::string DefaultLogPath() {
  const char* xdg = std::getenv("XDG_STATE_HOME");
  if (xdg && *xdg) return std::string(xdg) + "/zentrak/host.log";
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : ".") + "/.local/state/zentrak/host.log";
}

bool OpenLog(const std::string& path, std::string& error, size_t max_bytes) {
  CloseLog();
  if (path.empty()) return true;
  std::error_code ec;
  std::filesystem::path p(path);
  if (p.has_parent_path()) std::filesystem::create_directories(p.parent_path(), ec);
  int fd = OpenFile(path);
  if (fd < 0) {
    error = path + ": cannot be opened for writing";
    return false;
  }
  LogState& s = State();
  s.path = path;
  s.fd = fd;
  s.max_bytes = max_bytes;
  return true;
}

void CloseLog() {
  LogState& s = State();
  if (s.fd >= 0) ::close(s.fd);
  s.fd = -1;
  s.path.clear();
}

void Log(std::string_view line) {
  LogState& s = State();
  if (s.fd < 0) return;
  std::string text = UtcTimestamp();
  text += ' ';
  text += line;
  text += '\n';
  struct stat st;
  if (::fstat(s.fd, &st) == 0 && static_cast<size_t>(st.st_size) + text.size() > s.max_bytes && st.st_size > 0) {
    // The full file becomes the one kept before it; another host may have moved it already.
    std::string kept = s.path + ".1";
    struct stat now;
    if (::stat(s.path.c_str(), &now) == 0 && now.st_ino == st.st_ino) std::rename(s.path.c_str(), kept.c_str());
    int fd = OpenFile(s.path);
    if (fd >= 0) {
      ::close(s.fd);
      s.fd = fd;
    }
  }
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(s.fd, text.data() + done, text.size() - done);
    if (n <= 0) {
      if (n < 0 && errno == EINTR) continue;
      return;
    }
    done += static_cast<size_t>(n);
  }
}

void SetVerbose(bool on) { State().verbose = on; }
bool Verbose() { return State().verbose; }

void LogVerbose(std::string_view line) {
  if (!State().verbose) return;
  std::string text = "zentrak-host: ";
  text += line;
  text += '\n';
  std::fwrite(text.data(), 1, text.size(), stderr);
}

}  // namespace zentrak::host
