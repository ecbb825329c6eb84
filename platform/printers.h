// The printers the platform knows for the user: the installed list, the default printer and
// setting the default. Printer names are 8-bit text in the system code page.
//
// Linux (platform/posix/printers.cpp) asks CUPS through libcups. The server is the one libcups
// finds: CUPS_SERVER, ~/.cups/client.conf or the local scheduler. Windows
// (platform/win32/printers.cpp) asks winspool and the user's profile.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace zentrak::platform {

class Printers {
 public:
  virtual ~Printers() = default;

  // The names of the printers installed for the user, in the platform's order: on Linux the
  // user's destinations as cupsGetDests2 lists them (sorted by name, instances as
  // "queue/instance"); on Windows the local and connected printers of EnumPrinters, level 4.
  // An empty list when none is installed.
  // Throws zentrak::Exception, naming the platform's reason, when the list cannot be read at all
  // (on Linux: the server cannot be reached), so that a failed read is never taken for "no
  // printers".
  virtual std::vector<std::string> Installed() = 0;

  // The user's default printer, or the empty text when there is none. On Linux it is
  // cupsGetDest(NULL) among the user's destinations, which honours, in this order, LPDEST,
  // PRINTER (other than "lp"), the "Default" line of ~/.cups/lpoptions (for root the lpoptions
  // file of the server root) and the server's default. On Windows it is GetDefaultPrinter, else
  // the first field of the "device" value of the profile section "windows".
  // Throws zentrak::Exception when the platform cannot be asked.
  virtual std::string Default() = 0;

  // Makes name the user's default printer and persists it for later processes: on Linux the
  // destination is marked default and written with cupsSetDests2, as `lpoptions -d name` does
  // (LPDEST and PRINTER, when set, still win for processes that see them); on Windows the
  // profile value is written and the change broadcast to the top-level windows.
  // Returns false, with the platform's reason, when name is not a destination or the setting
  // cannot be written; the previous default then stays.
  virtual bool SetDefault(const std::string& name, std::string& reason) = 0;
};

// The platform's printers. The object lives for the rest of the process.
Printers& SystemPrinters();

}  // namespace zentrak::platform
