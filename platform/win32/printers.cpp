// The installed printers on Windows: not built yet.
#include "platform/printers.h"

#include "base/exception.h"

namespace zentrak::platform {
namespace {

class WindowsPrinters : public Printers {
 public:
  std::vector<std::string> Installed() override { throw ENotAvailable("The printer list"); }
  std::string Default() override { throw ENotAvailable("The default printer"); }
  bool SetDefault(const std::string&, std::string& reason) override {
    reason = "Setting the default printer is not available yet";
    return false;
  }
};

}  // namespace

Printers& SystemPrinters() {
  static WindowsPrinters printers;
  return printers;
}

}  // namespace zentrak::platform
