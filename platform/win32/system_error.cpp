// The text of Win32 error codes through FormatMessageA, in the system code page.
#include "platform/win32/system_error.h"

namespace zentrak::platform {

std::string Win32ErrorText(DWORD error) {
  char* buffer = nullptr;
  DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                               FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, error, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
  std::string text = n && buffer ? std::string(buffer, n) : std::string();
  if (buffer) LocalFree(buffer);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') text.pop_back();
  if (text.empty()) text = "System error " + std::to_string(error);
  return text;
}

}  // namespace zentrak::platform
