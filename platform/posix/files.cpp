// Exclusive read-only files on Linux: POSIX descriptors with an advisory flock standing in for
// the share mode 0 of Windows.
#include "platform/files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "platform/codepage.h"

namespace zentrak::platform {
namespace {

// The text Windows gives for a sharing violation, which is what a held lock stands for.
const char kInUse[] = "The process cannot access the file because it is being used by another process.";

// strerror's text is in the locale's language and codeset; it is turned into the system code
// page when that differs (ZENTRAK_CODEPAGE=936 under a UTF-8 locale).
std::string ErrorText(int error) {
  std::string text = std::strerror(error);
  if (!IsAscii(text) && SystemCodePage() != kCodePageUtf8) {
    std::u16string wide;
    if (TryUtf8ToWide(text, wide)) text = WideToAnsi(wide);
  }
  return text;
}

int Descriptor(intptr_t handle) { return static_cast<int>(handle); }

}  // namespace

bool ExclusiveFile::Open(std::string_view path, std::string& reason) {
  Close();
  std::string name = AnsiToFileName(path);
  // O_NONBLOCK keeps the open of a FIFO without writer from hanging; it is cleared afterwards.
  int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    reason = ErrorText(errno);
    return false;
  }
  struct stat st;
  int stat_error = ::fstat(fd, &st) != 0 ? errno : 0;
  if (stat_error == 0 && S_ISDIR(st.st_mode)) stat_error = EISDIR;  // a folder is no file to read
  if (stat_error != 0) {
    reason = ErrorText(stat_error);
    ::close(fd);
    return false;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) {
      reason = kInUse;
      ::close(fd);
      return false;
    }
    // File systems without flock support (ENOLCK, EINVAL, ENOTSUP) give no sharing at all; the
    // file is still readable, so it is opened unlocked.
  }
  int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  handle_ = fd;
  return true;
}

void ExclusiveFile::Close() noexcept {
  if (handle_ != kNoHandle) {
    ::close(Descriptor(handle_));  // also releases the lock
    handle_ = kNoHandle;
  }
}

int64_t ExclusiveFile::SeekToEnd(std::string& reason) {
  off_t end = ::lseek(Descriptor(handle_), 0, SEEK_END);
  if (end < 0) {
    reason = ErrorText(errno);
    return -1;
  }
  return static_cast<int64_t>(end);
}

bool ExclusiveFile::SeekFromStart(int64_t offset, std::string& reason) {
  if (::lseek(Descriptor(handle_), static_cast<off_t>(offset), SEEK_SET) < 0) {
    reason = ErrorText(errno);
    return false;
  }
  return true;
}

int64_t ExclusiveFile::Read(char* buffer, size_t count, std::string& reason) {
  size_t done = 0;
  while (done < count) {
    ssize_t got = ::read(Descriptor(handle_), buffer + done, count - done);
    if (got < 0) {
      if (errno == EINTR) continue;
      reason = ErrorText(errno);
      return -1;
    }
    if (got == 0) break;
    done += static_cast<size_t>(got);
  }
  return static_cast<int64_t>(done);
}

bool WriteNewFile(std::string_view path, std::string_view bytes, std::string& reason) {
  std::string name = AnsiToFileName(path);
  int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0666);
  if (fd < 0) {
    reason = ErrorText(errno);
    return false;
  }
  ::flock(fd, LOCK_EX | LOCK_NB);  // sharing as ExclusiveFile's readers see it; not a condition
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t put = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      reason = ErrorText(put < 0 ? errno : ENOSPC);
      ::close(fd);
      ::unlink(name.c_str());
      return false;
    }
    done += static_cast<size_t>(put);
  }
  if (::close(fd) != 0) {
    reason = ErrorText(errno);
    ::unlink(name.c_str());
    return false;
  }
  return true;
}

bool FileExists(std::string_view path) {
  struct stat st;
  return ::stat(AnsiToFileName(path).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool RemoveFile(std::string_view path) { return ::unlink(AnsiToFileName(path).c_str()) == 0; }

std::string FullPath(std::string_view path) {
  std::string name = AnsiToFileName(path);
  std::string whole;
  if (name.empty() || name[0] != '/') {
    std::vector<char> buffer(4096);
    while (::getcwd(buffer.data(), buffer.size()) == nullptr && errno == ERANGE) {
      buffer.resize(buffer.size() * 2);
    }
    whole = buffer.data();
    whole += '/';
  }
  whole += name;
  // Lexical clean-up, as the Windows full-path rule does it: the file need not exist.
  std::vector<std::string_view> steps;
  std::string_view rest = whole;
  while (!rest.empty()) {
    size_t slash = rest.find('/');
    std::string_view step = rest.substr(0, slash);
    rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
    if (step.empty() || step == ".") continue;
    if (step == "..") {
      if (!steps.empty()) steps.pop_back();
      continue;
    }
    steps.push_back(step);
  }
  std::string out;
  for (auto step : steps) {
    out += '/';
    out += step;
  }
  if (out.empty()) out = "/";
  return FileNameToAnsi(out);
}

std::string FileNameToAnsi(std::string_view native_name) {
  if (SystemCodePage() == kCodePageUtf8) return std::string(native_name);
  return Utf8ToAnsi(native_name);
}

std::string AnsiToFileName(std::string_view name) {
  if (SystemCodePage() == kCodePageUtf8) return std::string(name);
  return AnsiToUtf8(name);
}

}  // namespace zentrak::platform
