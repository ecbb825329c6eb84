// Exclusive read-only files and the file-open dialog on Windows: CreateFileA with share mode 0,
// and the common dialog's GetOpenFileNameA.
#include <windows.h>
#include <commdlg.h>

#include <string>
#include <vector>

#include "base/exception.h"
#include "platform/dialogs.h"
#include "platform/files.h"
#include "platform/win32/system_error.h"

namespace zentrak::platform {
namespace {

HANDLE ToHandle(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

bool ExclusiveFile::Open(std::string_view path, std::string& reason) {
  Close();
  std::string name(path);
  HANDLE h = CreateFileA(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    reason = Win32ErrorText(GetLastError());
    return false;
  }
  handle_ = reinterpret_cast<intptr_t>(h);
  return true;
}

void ExclusiveFile::Close() noexcept {
  if (handle_ != kNoHandle) {
    CloseHandle(ToHandle(handle_));
    handle_ = kNoHandle;
  }
}

int64_t ExclusiveFile::SeekToEnd(std::string& reason) {
  LARGE_INTEGER distance, position;
  distance.QuadPart = 0;
  if (!SetFilePointerEx(ToHandle(handle_), distance, &position, FILE_END)) {
    reason = Win32ErrorText(GetLastError());
    return -1;
  }
  return position.QuadPart;
}

bool ExclusiveFile::SeekFromStart(int64_t offset, std::string& reason) {
  LARGE_INTEGER distance;
  distance.QuadPart = offset;
  if (!SetFilePointerEx(ToHandle(handle_), distance, nullptr, FILE_BEGIN)) {
    reason = Win32ErrorText(GetLastError());
    return false;
  }
  return true;
}

int64_t ExclusiveFile::Read(char* buffer, size_t count, std::string& reason) {
  size_t done = 0;
  while (done < count) {
    size_t rest = count - done;
    DWORD want = rest > 0x40000000u ? 0x40000000u : static_cast<DWORD>(rest);
    DWORD got = 0;
    if (!ReadFile(ToHandle(handle_), buffer + done, want, &got, nullptr)) {
      reason = Win32ErrorText(GetLastError());
      return -1;
    }
    if (got == 0) break;
    done += got;
  }
  return static_cast<int64_t>(done);
}

std::string FullPath(std::string_view path) {
  std::string name(path);
  DWORD n = GetFullPathNameA(name.c_str(), 0, nullptr, nullptr);
  if (n == 0) return name;
  std::string full(n, '\0');
  DWORD got = GetFullPathNameA(name.c_str(), n, full.data(), nullptr);
  if (got == 0 || got >= n) return name;
  full.resize(got);
  return full;
}

std::string FileNameToAnsi(std::string_view native_name) { return std::string(native_name); }
std::string AnsiToFileName(std::string_view name) { return std::string(name); }

bool ChooseFilesToOpen(bool multiple, std::vector<std::string>& paths) {
  paths.clear();
  // Room for a long multiple selection: the folder followed by every chosen name.
  std::vector<char> buffer(65536, '\0');
  OPENFILENAMEA ofn;
  ZeroMemory(&ofn, sizeof ofn);
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = GetActiveWindow();
  ofn.lpstrFile = buffer.data();
  ofn.nMaxFile = static_cast<DWORD>(buffer.size());
  ofn.Flags = OFN_HIDEREADONLY | OFN_ENABLESIZING | OFN_EXPLORER;
  if (multiple) ofn.Flags |= OFN_ALLOWMULTISELECT;
  // The dialog runs the thread's message loop until it closes.
  if (!GetOpenFileNameA(&ofn)) {
    DWORD error = CommDlgExtendedError();
    if (error == 0) return false;  // cancelled
    throw Exception("The file dialog failed (error " + std::to_string(error) + ")");
  }
  // One file: its full path. Several: the folder, then each name, each ended by a zero, and an
  // empty text at the end.
  const char* p = buffer.data();
  std::string first = p;
  p += first.size() + 1;
  if (!multiple || *p == '\0') {
    paths.push_back(first);
    return true;
  }
  std::string folder = first;
  if (!folder.empty() && folder.back() != '\\') folder += '\\';
  while (*p != '\0') {
    std::string name = p;
    p += name.size() + 1;
    paths.push_back(folder + name);
  }
  return true;
}

void ShowMessageBox(const std::string& text, const std::string& caption) {
  MessageBoxA(nullptr, text.c_str(), caption.c_str(), MB_OK | MB_ICONSTOP | MB_SETFOREGROUND);
}

bool WriteNewFile(std::string_view path, std::string_view bytes, std::string& reason) {
  std::string name(path);
  HANDLE h = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    reason = Win32ErrorText(GetLastError());
    return false;
  }
  DWORD written = 0;
  BOOL ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  DWORD error = ok && written == bytes.size() ? 0 : (ok ? ERROR_DISK_FULL : GetLastError());
  CloseHandle(h);
  if (error != 0) {
    reason = Win32ErrorText(error);
    DeleteFileA(name.c_str());
    return false;
  }
  return true;
}

bool FileExists(std::string_view path) {
  DWORD attributes = GetFileAttributesA(std::string(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool RemoveFile(std::string_view path) { return DeleteFileA(std::string(path).c_str()) != 0; }

}  // namespace zentrak::platform
