// The server object.
#include "server/com/server.h"

#include "base/exception.h"

namespace zentrak::com {

Server& Server::Instance() {
  static Server* server = new Server();  // lives as long as the module
  return *server;
}

std::string Server::ModulePath() const {
  char path[MAX_PATH * 2];
  DWORD n = GetModuleFileNameA(module_, path, sizeof path);
  if (n == 0 || n >= sizeof path) return std::string();
  char long_path[MAX_PATH * 2];
  DWORD m = GetLongPathNameA(path, long_path, sizeof long_path);
  if (m == 0 || m >= sizeof long_path) return std::string(path, n);
  return std::string(long_path, m);
}

ITypeLib* Server::TypeLibrary() {
  std::call_once(type_library_once_, [this] {
    wchar_t path[MAX_PATH * 2];
    DWORD n = GetModuleFileNameW(module_, path, MAX_PATH * 2);
    if (n == 0 || n >= MAX_PATH * 2) {
      type_library_status_ = HRESULT_FROM_WIN32(GetLastError());
      return;
    }
    type_library_status_ = LoadTypeLibEx(path, REGKIND_NONE, type_library_.Put());
  });
  if (!type_library_) {
    throw EStatusError("Error loading type library/DLL", static_cast<int32_t>(type_library_status_));
  }
  return type_library_.Get();
}

}  // namespace zentrak::com
