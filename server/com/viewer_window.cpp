// The Win32 form of the viewer control.
#include "server/com/viewer_window.h"

#include <memory>

#include "base/exception.h"
#include "platform/codepage.h"
#include "server/com/server.h"
#include "server/com/variant_com.h"

namespace zentrak::com {
namespace {

constexpr wchar_t kFormClass[] = L"ZentrakViewerForm";
constexpr wchar_t kParkingClass[] = L"ZentrakViewerParking";
// The form resource's size.
constexpr int kFormWidth = 870, kFormHeight = 500;
// The outside PDF control, and its open operation.
constexpr CLSID kOutsideControl = {0xDB2189DF, 0xABF4, 0x445A, {0xA4, 0xE5, 0xBF, 0x32, 0xF2, 0xCE, 0xA4, 0xD9}};
constexpr DISPID kOpenDocumentFile = 15;
constexpr wchar_t kNoEngine[] = L"No PDF engine is installed to show this document";

HWND parking = nullptr;

// The hidden window where forms wait while no container shows them. One per module; everything
// runs on the apartment's one thread.
HWND ParkingWindow() {
  if (parking && IsWindow(parking)) return parking;
  HINSTANCE module = Server::Instance().Module();
  WNDCLASSW cls = {};
  cls.lpfnWndProc = DefWindowProcW;
  cls.hInstance = module;
  cls.lpszClassName = kParkingClass;
  RegisterClassW(&cls);  // fails harmlessly when already registered
  parking = CreateWindowExW(WS_EX_TOOLWINDOW, kParkingClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, module,
                            nullptr);
  return parking;
}

std::wstring WideOf(const std::u16string& s) { return Wide(s); }

}  // namespace

COLORREF DrawnColor(uint32_t value) {
  if (value & 0x80000000u) return GetSysColor(static_cast<int>(value & 0xFFu));
  return static_cast<COLORREF>(value & 0xFFFFFFu);
}

FormStyle FormStyleOf(BorderStyle border) {
  FormStyle s{WS_CHILD | WS_CLIPCHILDREN | WS_CLIPSIBLINGS, 0};
  switch (border) {
    case BorderStyle::kNone: break;
    case BorderStyle::kSingle: s.style |= WS_BORDER; break;
    case BorderStyle::kSunken: s.ex_style |= WS_EX_CLIENTEDGE; break;
    case BorderStyle::kRaised:
      s.style |= WS_DLGFRAME;
      s.ex_style |= WS_EX_WINDOWEDGE;
      break;
  }
  return s;
}

Win32ViewerForm::Win32ViewerForm() {
  WNDCLASSW cls = {};
  cls.style = CS_DBLCLKS;
  cls.lpfnWndProc = &Win32ViewerForm::WindowProc;
  cls.hInstance = Server::Instance().Module();
  cls.hCursor = LoadCursor(nullptr, IDC_ARROW);
  cls.lpszClassName = kFormClass;
  RegisterClassW(&cls);  // fails harmlessly when already registered
  SetFont(font_);
  RECT rect = {0, 0, kFormWidth, kFormHeight};
  // Without a desktop (a script host run with no display) there is no window: the form then keeps
  // its values as a form without a window does, and preview still writes the file and opens it.
  CreateFormWindow(ParkingWindow(), rect);
  CreateEngine();
}

Win32ViewerForm::~Win32ViewerForm() {
  // The control is going too: a window still open goes without telling it.
  control_ = nullptr;
  Close();
  if (hfont_) DeleteObject(hfont_);
}

void Win32ViewerForm::Close() {
  if (!window_) return;
  DestroyWindow(window_);  // WM_DESTROY tells the control
  window_ = nullptr;
}

void Win32ViewerForm::CreateFormWindow(HWND parent, const RECT& rect) {
  const FormStyle s = FormStyleOf(border_style_);
  DWORD style = s.style | (visible_ ? WS_VISIBLE : 0) | (enabled_ ? 0 : WS_DISABLED);
  window_ = CreateWindowExW(s.ex_style, kFormClass, WideOf(caption_).c_str(), style, rect.left, rect.top,
                            rect.right - rect.left, rect.bottom - rect.top, parent, nullptr,
                            Server::Instance().Module(), this);
}

void Win32ViewerForm::CreateEngine() {
  // The engine is optional: without the outside control the form says so on its surface.
  ComPtr<IDispatch> engine;
  if (FAILED(CoCreateInstance(kOutsideControl, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                              reinterpret_cast<void**>(engine.Put()))))
    return;
  engine_ = engine;
  // A control with a window of its own fills the client area, sited by the system's ATL host
  // (atl.dll, loaded when needed so that the module imports nothing more). An engine without
  // one is driven through dispatch only.
  ComPtr<IOleObject> visible;
  if (FAILED(engine->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(visible.Put())))) return;
  using AttachFn = HRESULT(WINAPI*)(IUnknown*, HWND, IUnknown**);
  static HMODULE atl = LoadLibraryW(L"atl.dll");
  auto attach = atl ? reinterpret_cast<AttachFn>(reinterpret_cast<void (*)()>(GetProcAddress(atl, "AtlAxAttachControl")))
                    : nullptr;
  if (!attach) return;
  RECT client;
  if (!window_ || !GetClientRect(window_, &client)) return;
  engine_window_ = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, client.right,
                                   client.bottom, window_, nullptr, Server::Instance().Module(), nullptr);
  ComPtr<IUnknown> site;
  if (!engine_window_ || FAILED(attach(engine.Get(), engine_window_, site.Put()))) {
    if (engine_window_) DestroyWindow(engine_window_);
    engine_window_ = nullptr;
  }
}

bool Win32ViewerForm::Visible() const {
  return window_ ? (GetWindowLongW(window_, GWL_STYLE) & WS_VISIBLE) != 0 : visible_;
}

void Win32ViewerForm::SetVisible(bool value) {
  visible_ = value;
  if (window_) ShowWindow(window_, value ? SW_SHOWNA : SW_HIDE);
}

bool Win32ViewerForm::Enabled() const { return window_ ? IsWindowEnabled(window_) != FALSE : enabled_; }

void Win32ViewerForm::SetEnabled(bool value) {
  enabled_ = value;
  if (window_) EnableWindow(window_, value);
}

void Win32ViewerForm::SetCaption(const std::u16string& value) {
  caption_ = value;
  if (window_) SetWindowTextW(window_, WideOf(caption_).c_str());
}

void Win32ViewerForm::SetColor(uint32_t value) {
  color_ = value;
  if (window_) InvalidateRect(window_, nullptr, TRUE);
}

void Win32ViewerForm::SetFont(const FontAttributes& value) {
  font_ = value;
  LOGFONTW lf = {};
  lf.lfHeight = font_.height;
  lf.lfWeight = font_.weight;
  lf.lfItalic = font_.italic;
  lf.lfUnderline = font_.underline;
  lf.lfStrikeOut = font_.strikethrough;
  lf.lfCharSet = static_cast<BYTE>(font_.charset);
  std::wstring face = WideOf(font_.name).substr(0, LF_FACESIZE - 1);
  face.copy(lf.lfFaceName, face.size());
  if (HFONT made = CreateFontIndirectW(&lf)) {
    if (hfont_) DeleteObject(hfont_);
    hfont_ = made;
  }
  if (window_) InvalidateRect(window_, nullptr, TRUE);
}

void Win32ViewerForm::SetBorderStyle(BorderStyle value) {
  border_style_ = value;
  if (!window_) return;
  // The window is made again with the new style at the same place, under the same parent, with
  // its children (the engine's window) moved over.
  HWND old = window_;
  HWND parent = GetParent(old);
  RECT rect;
  GetWindowRect(old, &rect);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
  const bool had_focus = GetFocus() == old;
  CreateFormWindow(parent, rect);
  if (!window_) {
    window_ = old;
    throw Exception("Cannot create the viewer's window");
  }
  while (HWND child = GetWindow(old, GW_CHILD)) SetParent(child, window_);
  recreating_ = true;
  DestroyWindow(old);
  recreating_ = false;
  if (had_focus) SetFocus(window_);
}

void Win32ViewerForm::OpenDocumentFile(const std::string& file_name) {
  if (!engine_) return;
  Bstr path(platform::AnsiToWide(file_name)), password;
  *password.Put() = SysAllocString(L"");
  VARIANT args[2];  // last argument first
  VariantInit(&args[0]);
  VariantInit(&args[1]);
  V_VT(&args[0]) = VT_BSTR;
  V_BSTR(&args[0]) = password.Get();
  V_VT(&args[1]) = VT_BSTR;
  V_BSTR(&args[1]) = path.Get();
  DISPPARAMS params = {args, nullptr, 2, 0};
  ComVariant result;
  // The engine's answer is not looked at.
  engine_->Invoke(kOpenDocumentFile, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result.Put(), nullptr,
                  nullptr);
}

void Win32ViewerForm::Place(HWND parent, const RECT* rect) {
  if (!window_) return;
  SetParent(window_, parent ? parent : ParkingWindow());
  if (rect) MoveWindow(window_, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top, TRUE);
}

void Win32ViewerForm::PaintTo(HDC dc, const RECT& bounds) const {
  HBRUSH brush = CreateSolidBrush(DrawnColor(color_));
  FillRect(dc, &bounds, brush);
  DeleteObject(brush);
  if (engine_) return;
  HGDIOBJ old_font = SelectObject(dc, hfont_ ? static_cast<HGDIOBJ>(hfont_) : GetStockObject(DEFAULT_GUI_FONT));
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
  RECT text = bounds;
  DrawTextW(dc, kNoEngine, -1, &text, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  SelectObject(dc, old_font);
}

void Win32ViewerForm::SetActive(bool active) {
  if (active == active_) return;
  active_ = active;
  if (!control_) return;
  if (active) {
    control_->OnActivate();
  } else {
    control_->OnDeactivate();
  }
}

void Win32ViewerForm::OnCharacter(WPARAM wparam, LPARAM lparam) {
  // The page sees the key as an 8-bit character code of the system code page; a character that
  // has no single-byte code goes on unseen.
  char bytes[4] = {};
  wchar_t wide = static_cast<wchar_t>(wparam);
  BOOL lossy = FALSE;
  int n = wparam < 0x80 ? (bytes[0] = static_cast<char>(wparam), 1)
                        : WideCharToMultiByte(CP_ACP, 0, &wide, 1, bytes, sizeof bytes, nullptr, &lossy);
  WPARAM key = wparam;
  if (n == 1 && !lossy && control_) {
    uint8_t left = control_->OnKeyPress(static_cast<uint8_t>(bytes[0]));
    if (left == 0) return;  // swallowed
    if (left != static_cast<uint8_t>(bytes[0])) {
      char c = static_cast<char>(left);
      wchar_t back = 0;
      MultiByteToWideChar(CP_ACP, 0, &c, 1, &back, 1);
      key = back;
    }
  }
  // The key goes on to the document's window: the engine's, or else the form's first child.
  HWND document = window_ ? GetWindow(window_, GW_CHILD) : nullptr;
  if (engine_window_) document = GetWindow(engine_window_, GW_CHILD) ? GetWindow(engine_window_, GW_CHILD) : engine_window_;
  if (document) SendMessageW(document, WM_CHAR, key, lparam);
}

LRESULT CALLBACK Win32ViewerForm::WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* form = reinterpret_cast<Win32ViewerForm*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (form && form->window_ == window) return form->Handle(message, wparam, lparam);
  return DefWindowProcW(window, message, wparam, lparam);
}

LRESULT Win32ViewerForm::Handle(UINT message, WPARAM wparam, LPARAM lparam) {
  HWND window = window_;
  switch (message) {
    case WM_ERASEBKGND: return 1;  // WM_PAINT fills the whole surface
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(window, &ps);
      RECT client;
      GetClientRect(window, &client);
      PaintTo(dc, client);
      EndPaint(window, &ps);
      if (control_) control_->OnPaint();
      return 0;
    }
    case WM_SIZE:
      // The engine's window fills the client area.
      if (engine_window_) MoveWindow(engine_window_, 0, 0, LOWORD(lparam), HIWORD(lparam), TRUE);
      InvalidateRect(window, nullptr, TRUE);
      return 0;
    case WM_MOUSEACTIVATE: return MA_ACTIVATE;
    case WM_LBUTTONDOWN:
      SetFocus(window);
      return 0;
    case WM_LBUTTONUP:
      if (control_) control_->OnClick();
      return 0;
    case WM_LBUTTONDBLCLK:
      if (control_) control_->OnDblClick();
      return 0;
    case WM_GETDLGCODE: return DLGC_WANTALLKEYS | DLGC_WANTCHARS;
    case WM_CHAR:
      OnCharacter(wparam, lparam);
      return 0;
    case WM_SETFOCUS:
      SetActive(true);
      return 0;
    case WM_KILLFOCUS: {
      HWND to = reinterpret_cast<HWND>(wparam);
      if (!to || (to != window && !IsChild(window, to))) SetActive(false);
      return 0;
    }
    case WM_DESTROY:
      if (!recreating_) {
        window_ = nullptr;
        if (control_) control_->OnDestroy();
      }
      return 0;
    default: break;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

ComPtr<IFontDisp> NewFontObject(const FontAttributes& font) {
  std::wstring name = WideOf(font.name);
  FONTDESC desc = {};
  desc.cbSizeofstruct = sizeof desc;
  desc.lpstrName = name.data();
  desc.cySize.int64 = font.size_cy;
  desc.sWeight = font.weight;
  desc.sCharset = font.charset;
  desc.fItalic = font.italic;
  desc.fUnderline = font.underline;
  desc.fStrikethrough = font.strikethrough;
  ComPtr<IFontDisp> out;
  HRESULT hr = OleCreateFontIndirect(&desc, IID_IFontDisp, reinterpret_cast<void**>(out.Put()));
  if (FAILED(hr)) throw EStatusError("Cannot create a font object", static_cast<int32_t>(hr));
  return out;
}

bool ReadFontObject(IUnknown* object, FontAttributes& out) {
  ComPtr<IFont> font;
  if (!object || FAILED(object->QueryInterface(IID_IFont, reinterpret_cast<void**>(font.Put())))) return false;
  Bstr name;
  CY size{};
  BOOL bold = FALSE, italic = FALSE, underline = FALSE, strike = FALSE;
  SHORT weight = 400, charset = 1;
  if (FAILED(font->get_Name(name.Put())) || FAILED(font->get_Size(&size))) return false;
  font->get_Bold(&bold);
  font->get_Italic(&italic);
  font->get_Underline(&underline);
  font->get_Strikethrough(&strike);
  font->get_Weight(&weight);
  font->get_Charset(&charset);
  out.name = name.Text();
  out.size_cy = size.int64;
  // A point size at the form's 96 pixels per inch, as a character height (negative).
  out.height = -static_cast<int32_t>((size.int64 * 96 + 360000) / 720000);
  out.bold = bold != FALSE;
  out.italic = italic != FALSE;
  out.underline = underline != FALSE;
  out.strikethrough = strike != FALSE;
  out.weight = weight;
  out.charset = charset;
  return true;
}

namespace {

bool ReadFontVariant(const Variant& object, FontAttributes& out) { return ReadFontObject(ObjectOf(object), out); }

}  // namespace

void ReleaseWin32ViewerForms() {
  // The classes name this module's window procedure: a module loaded again elsewhere registers
  // them anew.
  if (parking && IsWindow(parking)) DestroyWindow(parking);
  parking = nullptr;
  HINSTANCE module = Server::Instance().Module();
  UnregisterClassW(kFormClass, module);
  UnregisterClassW(kParkingClass, module);
}

void InstallWin32ViewerForms() {
  SetViewerFormFactory([]() -> std::unique_ptr<ViewerForm> { return std::make_unique<Win32ViewerForm>(); });
  SetFontObjectReader(&ReadFontVariant);
}

}  // namespace zentrak::com
