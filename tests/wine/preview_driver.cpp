// Drives the preview window of PrintServer.preview from another process, as a user would, by
// messages to its window; run by scripts/wine-run-tests.sh while a suite waits in preview:
//   zentrak_preview_driver show           waits up to 30 s for the window and prints what it shows
//   zentrak_preview_driver type TEXT      puts TEXT in the printer list's text
//   zentrak_preview_driver click          presses the print button and waits until it is handled
//   zentrak_preview_driver click-error    presses it, waits for the error message box, prints its
//                                         text, closes it, and checks that the window stays open
//   zentrak_preview_driver close          closes the window and waits until it is gone
// Texts are printed in UTF-8, one "name: value" a line. Exits 1 when the window is not found.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

namespace {

constexpr wchar_t kCaption[] = L"\u6253\u5370\u9884\u89C8";
constexpr int kListId = 1, kButtonId = 2, kDocumentId = 3;

std::string Utf8(const std::wstring& text) {
  int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::wstring Text(HWND window) {
  wchar_t buffer[1024] = {};
  SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, 5000, nullptr);
  return buffer;
}

void Print(const char* name, const std::string& value) { std::printf("%s: %s\n", name, value.c_str()); }

// The visible preview window, waiting up to seconds for it.
HWND FindPreview(int seconds) {
  for (int i = 0; i < seconds * 10; ++i) {
    HWND w = FindWindowW(L"ZentrakModalWindow", kCaption);
    if (w && IsWindowVisible(w)) return w;
    Sleep(100);
  }
  return nullptr;
}

// A message box owned by window, waiting up to seconds for it.
HWND FindMessageBox(HWND owner, int seconds) {
  for (int i = 0; i < seconds * 10; ++i) {
    for (HWND w = FindWindowExW(nullptr, nullptr, L"#32770", nullptr); w;
         w = FindWindowExW(nullptr, w, L"#32770", nullptr)) {
      if (GetWindow(w, GW_OWNER) == owner && IsWindowVisible(w)) return w;
    }
    Sleep(100);
  }
  return nullptr;
}

void Show(HWND form) {
  RECT r;
  GetWindowRect(form, &r);
  HWND list = GetDlgItem(form, kListId);
  Print("caption", Utf8(Text(form)));
  Print("size", std::to_string(r.right - r.left) + "x" + std::to_string(r.bottom - r.top));
  Print("owner", GetWindow(form, GW_OWNER) ? "a window" : "none");
  Print("printers", Utf8(Text(list)));
  std::wstring items;
  LRESULT count = SendMessageW(list, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    wchar_t item[256] = {};
    SendMessageW(list, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(item));
    items += (i ? L"|" : L"") + std::wstring(item);
  }
  Print("items", Utf8(items));
  Print("selected", std::to_string(SendMessageW(list, CB_GETCURSEL, 0, 0)));
  Print("button", Utf8(Text(GetDlgItem(form, kButtonId))));
  HWND document = GetDlgItem(form, kDocumentId);
  GetWindowRect(document, &r);
  Print("document", Utf8(Text(document)));
  Print("document size", std::to_string(r.right - r.left) + "x" + std::to_string(r.bottom - r.top));
  Print("document view", GetWindow(document, GW_CHILD) ? "hosted" : "none");
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argc < 2) return 2;
  const std::wstring command = argv[1];
  HWND form = FindPreview(30);
  if (!form) {
    Print("error", "no preview window");
    return 1;
  }
  HWND button = GetDlgItem(form, kButtonId);
  const WPARAM click = MAKEWPARAM(kButtonId, BN_CLICKED);
  if (command == L"show") {
    Show(form);
  } else if (command == L"type" && argc > 2) {
    SendMessageW(GetDlgItem(form, kListId), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[2]));
  } else if (command == L"click") {
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutW(form, WM_COMMAND, click, reinterpret_cast<LPARAM>(button), SMTO_NORMAL, 60000, &answer)) {
      Print("error", "the click was not handled");
      return 1;
    }
  } else if (command == L"click-error") {
    PostMessageW(form, WM_COMMAND, click, reinterpret_cast<LPARAM>(button));
    HWND box = FindMessageBox(form, 30);
    if (!box) {
      Print("error", "no message box");
      return 1;
    }
    Print("box caption", Utf8(Text(box)));
    // The message is the box's static text that is not empty (the icon's is).
    std::wstring message;
    for (HWND c = FindWindowExW(box, nullptr, L"Static", nullptr); c && message.empty();
         c = FindWindowExW(box, c, L"Static", nullptr)) {
      message = Text(c);
    }
    Print("message", Utf8(message));
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    for (int i = 0; i < 50 && IsWindow(box); ++i) Sleep(100);
    Print("still open", IsWindowVisible(form) ? "yes" : "no");
  } else if (command == L"close") {
    PostMessageW(form, WM_CLOSE, 0, 0);
    for (int i = 0; i < 100 && IsWindow(form) && IsWindowVisible(form); ++i) Sleep(100);
    Print("closed", IsWindow(form) && IsWindowVisible(form) ? "no" : "yes");
  } else {
    return 2;
  }
  return 0;
}
