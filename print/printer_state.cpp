// The process-wide printer state.
#include "print/printer_state.h"

#include "base/ascii.h"
#include "base/exception.h"

namespace zentrak {

const std::vector<std::string>& PrinterState::Installed() {
  if (!loaded_) {
    installed_ = printers_.Installed();
    loaded_ = true;
  }
  return installed_;
}

int PrinterState::Find(std::string_view name) {
  const std::vector<std::string>& list = Installed();
  for (size_t i = 0; i < list.size(); ++i) {
    if (EqualsIgnoringAsciiCase(list[i], name)) return static_cast<int>(i);
  }
  return -1;
}

int PrinterState::Current() {
  if (current_ < 0) {
    std::string name = printers_.Default();
    if (!name.empty()) current_ = Find(name);
  }
  return current_;
}

std::string PrinterState::CurrentName() {
  int index = Current();
  if (index < 0) throw Exception("There is no default printer currently selected");
  return Installed()[static_cast<size_t>(index)];
}

void PrinterState::Select(int index) {
  current_ = index;
  std::string reason;
  printers_.SetDefault(Installed()[static_cast<size_t>(index)], reason);
}

PrinterState& ProcessPrinterState() {
  static PrinterState state(platform::SystemPrinters());
  return state;
}

}  // namespace zentrak
