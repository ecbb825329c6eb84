// Modal windows on Windows: a top-level Win32 window, owned by no window, whose RunModal runs a
// message loop of its own on the calling thread, so that the thread's other windows and COM
// calls keep being served. While it runs, the thread's other top-level windows are disabled, as a
// modal form does it, and enabled again afterwards.
#include "platform/window.h"

#include <windows.h>

#include <vector>

#include "base/exception.h"
#include "platform/codepage.h"
#include "platform/win32/handles.h"
#include "platform/win32/system_error.h"

namespace zentrak::platform {
namespace {

constexpr wchar_t kClass[] = L"ZentrakModalWindow";

class Win32ModalWindow final : public ModalWindow {
 public:
  Win32ModalWindow(const std::string& title, int width, int height, std::function<void()> on_close)
      : on_close_(std::move(on_close)) {
    static const bool registered =
        RegisterWindowClass(kClass, Proc, COLOR_BTNFACE, LoadIcon(nullptr, IDI_APPLICATION));
    (void)registered;
    std::u16string wide = AnsiToWide(title);
    window_ = CreateWindowExW(WS_EX_CONTROLPARENT, kClass, reinterpret_cast<const wchar_t*>(wide.c_str()),
                              WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, CW_USEDEFAULT, CW_USEDEFAULT, width, height,
                              nullptr, nullptr, ThisModule(), this);
    if (!window_) throw Exception("The window cannot be made: " + Win32ErrorText(GetLastError()));
  }

  ~Win32ModalWindow() override {
    Close();
    SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    DestroyWindow(window_);
  }

  void RunModal() override {
    running_ = true;
    std::vector<HWND> disabled = DisableThreadWindows();
    ShowWindow(window_, SW_SHOWNORMAL);
    SetForegroundWindow(window_);
    MSG msg;
    while (running_) {
      BOOL got = GetMessageW(&msg, nullptr, 0, 0);
      if (got == 0) {
        // The thread is asked to end: the loop that owns the thread must see the request too.
        Close();
        PostQuitMessage(static_cast<int>(msg.wParam));
        break;
      }
      if (got < 0) break;
      if (!IsDialogMessageW(window_, &msg)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
      }
    }
    for (HWND w : disabled) EnableWindow(w, TRUE);
    running_ = false;
  }

  void Close() override {
    if (!running_) return;
    running_ = false;
    ShowWindow(window_, SW_HIDE);
    if (on_close_) on_close_();
    PostMessageW(window_, WM_NULL, 0, 0);  // wakes the loop
  }

  void* NativeHandle() override { return window_; }

 private:
  static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_NCCREATE) {
      SetWindowLongPtrW(window, GWLP_USERDATA,
                        reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(l)->lpCreateParams));
    }
    auto* self = reinterpret_cast<Win32ModalWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == WM_CLOSE && self) {
      // Hidden, not destroyed: the window belongs to this object until it is deleted.
      self->Close();
      return 0;
    }
    return DefWindowProcW(window, message, w, l);
  }

  struct ThreadWindows {
    HWND self;
    std::vector<HWND> found;
  };
  static BOOL CALLBACK AddThreadWindow(HWND w, LPARAM p) {
    auto* state = reinterpret_cast<ThreadWindows*>(p);
    if (w != state->self && IsWindowVisible(w) && IsWindowEnabled(w)) state->found.push_back(w);
    return TRUE;
  }

  // The enabled, visible top-level windows of this thread other than this one, now disabled.
  std::vector<HWND> DisableThreadWindows() const {
    ThreadWindows walk{window_, {}};
    EnumThreadWindows(GetCurrentThreadId(), AddThreadWindow, reinterpret_cast<LPARAM>(&walk));
    for (HWND w : walk.found) EnableWindow(w, FALSE);
    return walk.found;
  }

  HWND window_ = nullptr;
  bool running_ = false;
  std::function<void()> on_close_;
};

}  // namespace

std::unique_ptr<ModalWindow> CreateModalWindow(const std::string& title, int width, int height,
                                               std::function<void()> on_close) {
  return std::make_unique<Win32ModalWindow>(title, width, height, std::move(on_close));
}

}  // namespace zentrak::platform
