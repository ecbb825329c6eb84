// A top-level window that runs modally: the preview window is built on it.
//
// On Linux it is a GTK 3 window (platform/posix/window.cpp, built by the library that shows it,
// as GTK is needed only there); it must be used on the thread of the GLib main context, the
// host's main thread. On Windows it is a Win32 top-level window owned by no window
// (platform/win32/window.cpp), whose loop runs on the calling thread.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace zentrak::platform {

class ModalWindow {
 public:
  virtual ~ModalWindow() = default;

  // Shows the window above the other windows of the user's session and runs a nested loop of
  // the platform's event loop until Close is called or the user closes the window. Calls from
  // pages (and their timers and sockets) are served meanwhile, so a member may run while another
  // member's window is open. Returns once the window is hidden. REQUIRES: not already running.
  virtual void RunModal() = 0;

  // Ends RunModal; harmless when the window is not running. May be called from a handler that
  // runs inside RunModal's loop.
  virtual void Close() = 0;

  // The platform's window handle (GtkWindow*, HWND), for hosting child controls.
  virtual void* NativeHandle() = 0;
};

// A hidden window titled title (8-bit text in the system code page) of width by height pixels.
// on_close, when given, runs when the window is closed by the user or by Close, before RunModal
// returns.
// Throws zentrak::Exception when no window can be made (on Linux: no display).
std::unique_ptr<ModalWindow> CreateModalWindow(const std::string& title, int width, int height,
                                               std::function<void()> on_close = {});

}  // namespace zentrak::platform
