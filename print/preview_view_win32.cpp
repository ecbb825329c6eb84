// The preview window on Windows: a Win32 modal window (platform/window.h) with the top panel of
// the printer list and the print button, and below it the document area. The area shows the
// engine's own view when the engine has one (the outside PDF control); our own engine cannot
// draw a document, and the area then says so, while the button still prints through it.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/exception.h"
#include "platform/codepage.h"
#include "platform/win32/handles.h"
#include "platform/window.h"
#include "print/preview_form.h"

namespace zentrak {
namespace {

using platform::ThisModule;

constexpr wchar_t kCaption[] = L"\u6253\u5370\u9884\u89C8";  // 打印预览, "print preview"
constexpr wchar_t kPrintButton[] = L"\u6253\u5370";          // 打印, "print"
constexpr wchar_t kFontName[] = L"SimSun";  // 宋体, by its English name, which every system knows
constexpr wchar_t kInitialPrinterText[] = L"Printers";
constexpr wchar_t kNoEngine[] = L"No PDF engine is installed to show this document";
constexpr wchar_t kDocumentClass[] = L"ZentrakPreviewDocument";

// The form's layout in pixels at 96 dots per inch.
constexpr int kLeft = 204, kTop = 177, kWidth = 870, kHeight = 500, kPanelHeight = 41;
constexpr int kListLeft = 16, kListTop = 8, kListWidth = 233, kListDropHeight = 200;
constexpr int kButtonLeft = 256, kButtonTop = 5, kButtonWidth = 75, kButtonHeight = 25;
constexpr int kFontHeight = -12;
constexpr int kListId = 1, kButtonId = 2, kDocumentId = 3;

std::wstring Wide(const std::string& ansi) {
  std::u16string w = platform::AnsiToWide(ansi);
  return std::wstring(w.begin(), w.end());
}

std::string WindowText(HWND window) {
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return platform::WideToAnsi(std::u16string(text.begin(), text.end()));
}

// The document area: its text (when it has one) centred on a white ground, and its first child
// window (the engine's view) kept at its full size.
LRESULT CALLBACK DocumentProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  switch (message) {
    case WM_SIZE:
      if (HWND child = GetWindow(window, GW_CHILD)) {
        SetWindowPos(child, nullptr, 0, 0, LOWORD(l), HIWORD(l), SWP_NOZORDER | SWP_NOACTIVATE);
      }
      return 0;
    case WM_SETTEXT: {
      LRESULT r = DefWindowProcW(window, message, w, l);
      InvalidateRect(window, nullptr, TRUE);
      return r;
    }
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(window, &paint);
      RECT r;
      GetClientRect(window, &r);
      std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
      text.resize(static_cast<size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
      HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(GetParent(window), WM_GETFONT, 0, 0)));
      SetBkMode(dc, TRANSPARENT);
      SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
      DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
      SelectObject(dc, old);
      EndPaint(window, &paint);
      return 0;
    }
    default:
      return DefWindowProcW(window, message, w, l);
  }
}

class Win32PreviewView final : public PreviewView {
 public:
  explicit Win32PreviewView(PreviewHandlers handlers) : handlers_(std::move(handlers)) {
    static const bool registered = platform::RegisterWindowClass(kDocumentClass, DocumentProc, COLOR_WINDOW);
    (void)registered;

    HDC screen = GetDC(nullptr);
    dpi_ = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    if (dpi_ <= 0) dpi_ = 96;

    window_ = platform::CreateModalWindow("", Scaled(kWidth), Scaled(kHeight), [this] {
      if (handlers_.closed) handlers_.closed();
    });
    top_ = static_cast<HWND>(window_->NativeHandle());
    SetWindowTextW(top_, kCaption);
    SetWindowPos(top_, nullptr, Scaled(kLeft), Scaled(kTop), 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);

    font_ = CreateFontW(Scaled(kFontHeight), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                        OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                        kFontName);
    list_ = Child(L"COMBOBOX", kInitialPrinterText,
                  WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWN | CBS_AUTOHSCROLL, kListLeft, kListTop, kListWidth,
                  kListDropHeight, kListId);
    button_ = Child(L"BUTTON", kPrintButton, WS_TABSTOP | BS_PUSHBUTTON, kButtonLeft, kButtonTop, kButtonWidth,
                    kButtonHeight, kButtonId);
    // A drop-down combo box takes no text from its creation: its edit field gets it here.
    if (list_) SetWindowTextW(list_, kInitialPrinterText);
    RECT client;
    GetClientRect(top_, &client);
    document_ = CreateWindowExW(0, kDocumentClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0,
                                Scaled(kPanelHeight), client.right, client.bottom - Scaled(kPanelHeight), top_,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(kDocumentId)), ThisModule(), nullptr);
    if (!list_ || !button_ || !document_) throw Exception("The preview window cannot be made");
    SetWindowSubclass(top_, FormProc, 0, reinterpret_cast<DWORD_PTR>(this));
  }

  ~Win32PreviewView() override {
    RemoveWindowSubclass(top_, FormProc, 0);
    window_.reset();
    if (font_) DeleteObject(font_);
  }

  void HostEngine(PdfEngine& engine) override {
    if (!engine.ShowIn(document_)) SetWindowTextW(document_, kNoEngine);
  }

  void SetPrinterChoices(const std::vector<std::string>& items, int32_t selected) override {
    // Emptying a combo box's list empties its text too; the list keeps its text.
    const std::string text = WindowText(list_);
    SendMessageW(list_, CB_RESETCONTENT, 0, 0);
    SetWindowTextW(list_, Wide(text).c_str());
    for (const std::string& item : items) {
      SendMessageW(list_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(item).c_str()));
    }
    if (selected >= 0 && static_cast<size_t>(selected) < items.size()) {
      SendMessageW(list_, CB_SETCURSEL, static_cast<WPARAM>(selected), 0);
    }
  }

  std::string PrinterText() override { return WindowText(list_); }

  // The engine, when it can show the document, has it open already.
  void ShowDocument(const std::string&) override {}

  void RunModal() override {
    SetFocus(button_);
    window_->RunModal();
  }

  void ShowError(const std::string& text) override {
    MessageBoxW(top_, Wide(text).c_str(), kCaption, MB_OK | MB_ICONERROR);
  }

 private:
  int Scaled(int pixels) const { return MulDiv(pixels, dpi_, 96); }

  HWND Child(const wchar_t* kind, const wchar_t* text, DWORD style, int x, int y, int width, int height, int id) {
    HWND w = CreateWindowExW(0, kind, text, WS_CHILD | WS_VISIBLE | style, Scaled(x), Scaled(y), Scaled(width),
                             Scaled(height), top_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ThisModule(),
                             nullptr);
    if (w && font_) SendMessageW(w, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    return w;
  }

  // The form's own messages: the button's click, and the document area following the size.
  static LRESULT CALLBACK FormProc(HWND window, UINT message, WPARAM w, LPARAM l, UINT_PTR, DWORD_PTR data) {
    auto* self = reinterpret_cast<Win32PreviewView*>(data);
    if (message == WM_COMMAND && LOWORD(w) == kButtonId && HIWORD(w) == BN_CLICKED) {
      if (self->handlers_.print_clicked) self->handlers_.print_clicked();
      return 0;
    }
    if (message == WM_GETFONT) return reinterpret_cast<LRESULT>(self->font_);
    if (message == WM_SIZE) {
      const int panel = self->Scaled(kPanelHeight);
      SetWindowPos(self->document_, nullptr, 0, panel, LOWORD(l), std::max(0, HIWORD(l) - panel),
                   SWP_NOZORDER | SWP_NOACTIVATE);
    }
    return DefSubclassProc(window, message, w, l);
  }

  PreviewHandlers handlers_;
  std::unique_ptr<platform::ModalWindow> window_;
  HWND top_ = nullptr, list_ = nullptr, button_ = nullptr, document_ = nullptr;
  HFONT font_ = nullptr;
  int dpi_ = 96;
};

}  // namespace

std::unique_ptr<PreviewView> CreatePlatformPreviewView(PreviewHandlers handlers) {
  return std::make_unique<Win32PreviewView>(std::move(handlers));
}

}  // namespace zentrak
