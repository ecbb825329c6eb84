// The user's printers through libcups: the destinations of the CUPS server that libcups finds
// (CUPS_SERVER, client.conf, the local scheduler), with the user's lpoptions applied.
#include "platform/printers.h"

#include <cups/cups.h>

#include <string>
#include <vector>

#include "base/exception.h"
#include "platform/codepage.h"

namespace zentrak::platform {
namespace {

// The user's destinations, freed when destroyed.
class Destinations {
 public:
  Destinations() { count_ = cupsGetDests2(CUPS_HTTP_DEFAULT, &dests_); }
  ~Destinations() { cupsFreeDests(count_, dests_); }
  Destinations(const Destinations&) = delete;
  Destinations& operator=(const Destinations&) = delete;

  int count() const { return count_; }
  cups_dest_t* dests() const { return dests_; }
  cups_dest_t* begin() const { return dests_; }
  cups_dest_t* end() const { return dests_ + count_; }

 private:
  int count_ = 0;
  cups_dest_t* dests_ = nullptr;
};

// A destination's name as lp and lpoptions write it: "queue" or "queue/instance".
std::string DestinationName(const cups_dest_t& dest) {
  std::string name = dest.name;
  if (dest.instance) {
    name += '/';
    name += dest.instance;
  }
  return Utf8ToAnsi(name);
}

// cupsGetDests2 answers an unreachable server with no destinations; the last error tells that
// apart from a server without printers (which answers "not found" or success).
void ThrowIfUnreachable(const Destinations& dests) {
  ipp_status_t status = cupsLastError();
  if (dests.count() == 0 && status > IPP_STATUS_OK_EVENTS_COMPLETE && status != IPP_STATUS_ERROR_NOT_FOUND) {
    // cupsLastErrorString alone says little here ("Bad file descriptor"): name the server too.
    throw Exception("Cannot list the printers: the CUPS server " + Utf8ToAnsi(cupsServer()) +
                    " cannot be reached (" + Utf8ToAnsi(cupsLastErrorString()) + ")");
  }
}

class CupsPrinters : public Printers {
 public:
  std::vector<std::string> Installed() override {
    Destinations dests;
    ThrowIfUnreachable(dests);
    std::vector<std::string> names;
    for (const cups_dest_t& dest : dests) names.push_back(DestinationName(dest));
    return names;
  }

  std::string Default() override {
    Destinations dests;
    ThrowIfUnreachable(dests);
    // With a null name cupsGetDest gives the destination that cupsGetDests2 marked default, which
    // follows LPDEST, PRINTER, lpoptions and the server's default, in that order.
    cups_dest_t* dest = cupsGetDest(nullptr, nullptr, dests.count(), dests.dests());
    return dest ? DestinationName(*dest) : std::string();
  }

  bool SetDefault(const std::string& name, std::string& reason) override {
    std::string utf8 = AnsiToUtf8(name);
    std::string queue = utf8;
    std::string instance;
    if (size_t slash = utf8.find('/'); slash != std::string::npos) {
      queue = utf8.substr(0, slash);
      instance = utf8.substr(slash + 1);
    }
    Destinations dests;
    cups_dest_t* chosen =
        cupsGetDest(queue.c_str(), instance.empty() ? nullptr : instance.c_str(), dests.count(), dests.dests());
    if (!chosen) {
      reason = "No printer named \"" + name + "\"";
      return false;
    }
    // What `lpoptions -d` does: mark the one destination default and write the user's
    // destinations back (~/.cups/lpoptions; for root, the lpoptions of the server root).
    for (cups_dest_t& dest : dests) dest.is_default = &dest == chosen;
    if (cupsSetDests2(CUPS_HTTP_DEFAULT, dests.count(), dests.dests()) != 0) {
      reason = Utf8ToAnsi(cupsLastErrorString());
      return false;
    }
    return true;
  }
};

}  // namespace

Printers& SystemPrinters() {
  static CupsPrinters printers;
  return printers;
}

}  // namespace zentrak::platform
