// The window and the container that the outside PDF control lives in on Windows: a hidden child
// window and a minimal OLE site (client site, in-place site and frame) that is enough for the
// control to activate in place. Windows only; print/win32_pdf_engine.cpp drives the control itself.
#pragma once

#include <windows.h>
#include <ole2.h>

namespace zentrak {

class ControlSite;

// A control sited in a window of its own. The window starts as a hidden child of the top-most
// visible top-level window of this thread, or, when the thread has none, of a hidden parking window
// made for it; where the window system cannot make windows at all (no display), it is a
// message-only window.
class HostedControl {
 public:
  // Makes the window and, when the control has IOleObject, initialises it (IPersistStreamInit's
  // InitNew when it has that), gives it the site and activates it in place in the window. A
  // control that refuses a step stays usable through its dispatch members: nothing is thrown.
  explicit HostedControl(IUnknown* control);
  // Deactivates and closes the control, takes the site back, and destroys the windows.
  ~HostedControl();
  HostedControl(const HostedControl&) = delete;
  HostedControl& operator=(const HostedControl&) = delete;

  // Moves the control's window into parent, filling its client area and following its size, and
  // shows it. Returns false when the control has no window to show (no window could be made).
  bool ShowIn(HWND parent);

  // Tells the control the window's new size (from the window's WM_SIZE).
  void Resized();

 private:
  HWND parking_ = nullptr;
  HWND window_ = nullptr;
  IOleObject* ole_ = nullptr;
  ControlSite* site_ = nullptr;
};

}  // namespace zentrak
