// The printer state of the process: the list of installed printers, read once, and the current
// printer, which every PrintServer object and window of the process shares. Names are 8-bit text
// in the system code page.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/printers.h"

namespace zentrak {

class PrinterState {
 public:
  // REQUIRES: printers outlives the state.
  explicit PrinterState(platform::Printers& printers) : printers_(printers) {}

  // The installed printers, read from the platform at the first call and kept unchanged for the
  // life of the state: a printer installed later is not listed until the process restarts.
  // Throws the platform's error when the list cannot be read; the next call reads again.
  const std::vector<std::string>& Installed();

  // The position of name in Installed, comparing without regard to ASCII case; -1 when it is
  // not there.
  int Find(std::string_view name);

  // The position of the current printer, or -1 when there is none. Until one is known, every
  // call asks the platform for the default printer and looks it up in Installed; once found, it
  // stays current until Select changes it.
  int Current();

  // The current printer's name. Throws "There is no default printer currently selected" when
  // there is no current printer.
  std::string CurrentName();

  // Makes Installed()[index] current and the user's default (persisted by the platform). A
  // default that cannot be written is not an error: the current printer, on which this
  // process prints, is set all the same. REQUIRES: 0 <= index < Installed().size().
  void Select(int index);

 private:
  platform::Printers& printers_;
  std::vector<std::string> installed_;
  bool loaded_ = false;
  int current_ = -1;
};

// The state of this process, over the platform's printers.
PrinterState& ProcessPrinterState();

}  // namespace zentrak
