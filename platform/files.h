// Reading existing files with exclusive sharing, and the full path of a file name. Paths are
// 8-bit text in the system code page and are the platform's own (no drive mapping): on Linux a
// relative path resolves against the current folder and "\" is an ordinary character of a name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zentrak::platform {

// An existing file opened for reading with exclusive sharing: while it is open, every other
// attempt to open it (by this process or another) fails. On Windows that is the share mode 0 of
// the open; on Linux it is an advisory lock (flock) held for as long as the file is open, so it
// holds against every opener that takes the same lock. Closed when destroyed.
class ExclusiveFile {
 public:
  ExclusiveFile() = default;
  ~ExclusiveFile() { Close(); }
  ExclusiveFile(ExclusiveFile&& other) noexcept : handle_(other.handle_) { other.handle_ = kNoHandle; }
  ExclusiveFile& operator=(ExclusiveFile&& other) noexcept {
    if (this != &other) {
      Close();
      handle_ = other.handle_;
      other.handle_ = kNoHandle;
    }
    return *this;
  }
  ExclusiveFile(const ExclusiveFile&) = delete;
  ExclusiveFile& operator=(const ExclusiveFile&) = delete;

  // Opens path read-only. Returns false when it cannot be opened (missing, a folder, no access,
  // in use) and sets reason to the platform's text for the failure, 8-bit text in the system
  // code page; the object then stays closed.
  bool Open(std::string_view path, std::string& reason);
  bool IsOpen() const noexcept { return handle_ != kNoHandle; }
  void Close() noexcept;

  // Moves the position to the end and returns it, which is the file's size; -1, with the reason,
  // when the file cannot be positioned. REQUIRES: IsOpen().
  int64_t SeekToEnd(std::string& reason);
  // Moves the position to offset bytes from the start; a position past the end is allowed.
  // Returns false, with the reason, when the platform refuses. REQUIRES: IsOpen(), offset >= 0.
  bool SeekFromStart(int64_t offset, std::string& reason);
  // Reads up to count bytes from the position into buffer and returns how many were read:
  // fewer than count only at the end of the file. Returns -1, with the reason, on a read error.
  // REQUIRES: IsOpen().
  int64_t Read(char* buffer, size_t count, std::string& reason);

 private:
  static constexpr intptr_t kNoHandle = -1;  // a file descriptor or a HANDLE
  intptr_t handle_ = kNoHandle;
};

// Creates the file path, truncating an existing one, and writes bytes to it in one write, with
// exclusive access while it is open (on Linux the advisory lock of ExclusiveFile). Returns false,
// with the platform's text for the failure as reason, when the file cannot be created or
// written; a file created before a failed write is removed.
bool WriteNewFile(std::string_view path, std::string_view bytes, std::string& reason);
bool FileExists(std::string_view path);
// Deletes the file path; false when it cannot be deleted (missing included).
bool RemoveFile(std::string_view path);

// The full (absolute) form of path as the platform resolves it when opening: relative to the
// current folder, with "." and ".." steps and repeated separators removed. The file need not
// exist and links are not followed.
std::string FullPath(std::string_view path);

// Conversions between the system's 8-bit file names and the names the platform's file system
// stores. On Windows and whenever the system code page is UTF-8 they are the identity; on Linux
// under another code page the stored names are taken to be UTF-8.
std::string FileNameToAnsi(std::string_view native_name);
std::string AnsiToFileName(std::string_view name);

}  // namespace zentrak::platform
