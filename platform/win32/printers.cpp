// The user's printers through winspool: the local and connected printers of EnumPrinters, the
// default of GetDefaultPrinter (else the "device" value of the profile section "windows"), and a
// new default written to that profile value and announced to the top-level windows. Names are
// the ANSI forms, in the system code page.
#include <windows.h>
#include <winspool.h>

#include <string>
#include <vector>

#include "base/exception.h"
#include "platform/printers.h"
#include "platform/win32/system_error.h"

namespace zentrak::platform {
namespace {

// A broadcast of a changed profile waits this long for each window; a hung window is skipped.
constexpr UINT kBroadcastTimeoutMs = 1000;

// The port part of a profile "device" value when the "devices" section has no entry for the
// printer: the spooler's own driver name and the network port placeholder.
constexpr char kDefaultPortPart[] = "winspool,Ne00:";

// The first field of a profile "device" value ("name,driver,port"), which names the printer.
std::string DeviceValuePrinter(const std::string& value) { return value.substr(0, value.find(',')); }

std::string ProfileString(const char* section, const char* key) {
  std::vector<char> buffer(1024);
  for (;;) {
    DWORD n = GetProfileStringA(section, key, "", buffer.data(), static_cast<DWORD>(buffer.size()));
    // A value that does not fit comes back cut, with n at the buffer's size less one.
    if (n + 1 < buffer.size()) return std::string(buffer.data(), n);
    buffer.resize(buffer.size() * 2);
  }
}

class WindowsPrinters : public Printers {
 public:
  std::vector<std::string> Installed() override {
    const DWORD flags = PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS;
    std::vector<BYTE> buffer;
    DWORD needed = 0;
    DWORD count = 0;
    // The list may grow between the call that sizes the buffer and the call that fills it.
    while (!EnumPrintersA(flags, nullptr, 4, buffer.empty() ? nullptr : buffer.data(),
                          static_cast<DWORD>(buffer.size()), &needed, &count)) {
      DWORD error = GetLastError();
      if (error != ERROR_INSUFFICIENT_BUFFER || needed <= buffer.size()) {
        throw Exception("Cannot list the printers: " + Win32ErrorText(error));
      }
      buffer.resize(needed);
    }
    std::vector<std::string> names;
    const auto* info = reinterpret_cast<const PRINTER_INFO_4A*>(buffer.data());
    for (DWORD i = 0; i < count; ++i) names.emplace_back(info[i].pPrinterName ? info[i].pPrinterName : "");
    return names;
  }

  std::string Default() override {
    DWORD size = 0;
    if (!GetDefaultPrinterA(nullptr, &size) && GetLastError() == ERROR_INSUFFICIENT_BUFFER && size > 0) {
      std::vector<char> buffer(size);
      if (GetDefaultPrinterA(buffer.data(), &size)) return std::string(buffer.data());
    }
    // GetDefaultPrinter fails when no default is set, or on a system without it: the profile
    // value is where the default has always been kept.
    return DeviceValuePrinter(ProfileString("windows", "device"));
  }

  bool SetDefault(const std::string& name, std::string& reason) override {
    bool known = false;
    for (const std::string& installed : Installed()) known = known || installed == name;
    if (!known) {
      reason = "No printer named \"" + name + "\"";
      return false;
    }
    // The "devices" section holds "driver,port" for each printer; the default's value is the
    // name followed by that text.
    std::string port_part = ProfileString("devices", name.c_str());
    if (port_part.empty()) port_part = kDefaultPortPart;
    std::string value = name + "," + port_part;
    if (!WriteProfileStringA("windows", "device", value.c_str())) {
      reason = Win32ErrorText(GetLastError());
      return false;
    }
    // Programs that keep the default printer reread it on this message. SendMessageTimeout, so
    // that a window that does not answer cannot hold the caller.
    DWORD_PTR result = 0;
    SendMessageTimeoutA(HWND_BROADCAST, WM_WININICHANGE, 0, reinterpret_cast<LPARAM>("windows"),
                        SMTO_ABORTIFHUNG | SMTO_NORMAL, kBroadcastTimeoutMs, &result);
    return true;
  }
};

}  // namespace

Printers& SystemPrinters() {
  static WindowsPrinters printers;
  return printers;
}

}  // namespace zentrak::platform
