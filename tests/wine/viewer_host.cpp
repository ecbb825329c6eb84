// A container for the viewer control, on the platform's ATL host (atl.dll's AtlAxCreateControl):
// it places ActiveFormX_Foxit in a window and checks what a page sees through it: the properties'
// read and write rules through IDispatch, the events at an events sink (OnCreate once, clicks,
// keys replaced and swallowed by the page), the window's border styles, property-bag and stream
// persistence, drawing, and preview (the ToPrint file and what the engine was asked to open).
//
//   zentrak_viewer_host.exe engine    HANDSHAKE-DIR   the outside control's class is the recorder
//   zentrak_viewer_host.exe no-engine HANDSHAKE-DIR   no outside control is registered
//
// When the checks that need no input are done, the program writes HANDSHAKE-DIR\ready with the
// screen position of the form's centre ("x y") and serves its windows until HANDSHAKE-DIR\driven
// appears (the runner clicks and types with xdotool and takes a screenshot meanwhile); then it
// checks what the input did. The last line is "RESULT <passed> <failed>".
#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "check.h"
#include "automation/dispids.h"
#include "automation/typelib.h"
#include "server/com/com_util.h"

using zentrak::com::Bstr;
using zentrak::com::ComPtr;
using zentrak::com::ComVariant;
using zentrak::com::ToGUID;
using zentrak::test::Hex;
namespace ev = zentrak::dispid::active_form_events;

namespace {

using AtlAxWinInitFn = BOOL(WINAPI*)();
using AtlAxCreateControlFn = HRESULT(WINAPI*)(LPCOLESTR, HWND, IStream*, IUnknown**);
using AtlAxGetControlFn = HRESULT(WINAPI*)(HWND, IUnknown**);

const zentrak::ClassDesc& Viewer() { return zentrak::ActiveFormClass(); }
GUID EventsIid() { return ToGUID(Viewer().default_source->iid); }

// The page's handler: records every event; OnKeyPress turns 'a' into 'b' and swallows 'x'.
class Sink final : public IDispatch {
 public:
  struct Event {
    DISPID id;
    int key;
  };
  std::vector<Event> events;

  int Count(DISPID id) const {
    int n = 0;
    for (const Event& e : events) n += e.id == id;
    return n;
  }
  std::string Keys() const {
    std::string out;
    for (const Event& e : events) {
      if (e.id == ev::kOnKeyPress) out += static_cast<char>(e.key);
    }
    return out;
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, EventsIid())) {
      *out = static_cast<IDispatch*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }  // lives as long as the program
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override {
    *n = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    Event e{id, -1};
    if (id == ev::kOnKeyPress && params->cArgs == 1) {
      VARIANT* arg = &params->rgvarg[0];
      VARIANT* key = V_VT(arg) == (VT_BYREF | VT_VARIANT) ? V_VARIANTREF(arg) : arg;
      if (V_VT(key) == VT_I2) e.key = V_I2(key);
      if (e.key == 'a') V_I2(key) = 'b';
      if (e.key == 'x') V_I2(key) = 0;
    }
    events.push_back(e);
    // A failing handler must change nothing for the control.
    return id == ev::kOnClick ? E_FAIL : S_OK;
  }
};

Sink sink;

// Dispatch calls by name.
class Control {
 public:
  explicit Control(IUnknown* unknown) {
    unknown->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(disp_.Put()));
  }
  IDispatch* Disp() const { return disp_.Get(); }
  DISPID Id(const wchar_t* name) const {
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    disp_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    return id;
  }
  HRESULT Get(const wchar_t* name, VARIANT* out) const {
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    return disp_->Invoke(Id(name), IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, out, nullptr, nullptr);
  }
  HRESULT Put(const wchar_t* name, VARIANT value, WORD kind = DISPATCH_PROPERTYPUT) const {
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params = {&value, &named, 1, 1};
    EXCEPINFO excep = {};
    HRESULT hr = disp_->Invoke(Id(name), IID_NULL, LOCALE_USER_DEFAULT, kind, &params, nullptr, &excep, nullptr);
    SysFreeString(excep.bstrSource);
    SysFreeString(excep.bstrDescription);
    SysFreeString(excep.bstrHelpFile);
    return hr;
  }
  // The property's value as text ("-1", "255", "Viewer"), or "error 0x...".
  std::string Text(const wchar_t* name) const {
    ComVariant v;
    HRESULT hr = Get(name, v.Put());
    if (FAILED(hr)) return "error " + Hex(hr);
    if (V_VT(&v.Get()) == VT_BSTR) return zentrak::test::Narrow(V_BSTR(&v.Get()));
    ComVariant as_long;
    if (FAILED(VariantChangeType(as_long.Put(), &v.Value(), 0, VT_I8))) return "vt " + std::to_string(V_VT(&v.Get()));
    return std::to_string(V_I8(&as_long.Get()));
  }
  HWND Form() const {
    ComPtr<IOleWindow> window;
    HWND hwnd = nullptr;
    if (SUCCEEDED(disp_->QueryInterface(IID_IOleWindow, reinterpret_cast<void**>(window.Put())))) window->GetWindow(&hwnd);
    return hwnd;
  }

 private:
  ComPtr<IDispatch> disp_;
};

VARIANT Long(LONG n) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_I4;
  V_I4(&v) = n;
  return v;
}

// The caller frees the text.
VARIANT Text(const wchar_t* text) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_BSTR;
  V_BSTR(&v) = SysAllocString(text);
  return v;
}

DWORD Cookie(IUnknown* control, bool advise, DWORD cookie = 0) {
  ComPtr<IConnectionPointContainer> container;
  ComPtr<IConnectionPoint> point;
  control->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(container.Put()));
  if (!container || FAILED(container->FindConnectionPoint(EventsIid(), point.Put()))) return 0;
  if (advise) {
    CHECK_HR("Advise", point->Advise(&sink, &cookie), S_OK);
  } else {
    CHECK_HR("Unadvise", point->Unadvise(cookie), S_OK);
  }
  return cookie;
}

void Pump() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

// The control drawn through IViewObject into a 200 by 100 bitmap: the colour at its centre, and
// the number of pixels of the middle band (below the caption) that differ from that at (190, 50).
struct Drawn {
  COLORREF centre;
  int marks;
};
Drawn DrawControl(IUnknown* control) {
  Drawn out{CLR_INVALID, -1};
  ComPtr<IViewObject> view;
  if (FAILED(control->QueryInterface(IID_IViewObject, reinterpret_cast<void**>(view.Put())))) return out;
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, 200, 100);
  HGDIOBJ old = SelectObject(dc, bitmap);
  RECTL bounds = {0, 0, 200, 100};
  if (SUCCEEDED(view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, dc, &bounds, nullptr, nullptr, 0))) {
    out.centre = GetPixel(dc, 100, 50);
    COLORREF background = GetPixel(dc, 190, 50);
    out.marks = 0;
    for (int y = 30; y < 70; ++y) {
      for (int x = 5; x < 195; ++x) out.marks += GetPixel(dc, x, y) != background;
    }
  }
  SelectObject(dc, old);
  DeleteObject(bitmap);
  DeleteDC(dc);
  ReleaseDC(nullptr, screen);
  return out;
}

// The name a platform font object made with name reports: the face the system has for it.
std::string RealizedName(const wchar_t* name) {
  FONTDESC desc = {sizeof(FONTDESC), const_cast<LPOLESTR>(name), {{82500, 0}}, FW_NORMAL, DEFAULT_CHARSET, FALSE, FALSE, FALSE};
  ComPtr<IFont> font;
  if (FAILED(OleCreateFontIndirect(&desc, IID_IFont, reinterpret_cast<void**>(font.Put())))) return "";
  Bstr realized;
  font->get_Name(realized.Put());
  return zentrak::test::Narrow(realized.Get());
}

void CheckProperties(const Control& c) {
  // Defaults of the form resource and the control.
  const struct {
    const wchar_t* name;
    const char* want;
  } defaults[] = {
      {L"Visible", "-1"},        {L"AutoScroll", "0"},     {L"AutoSize", "0"},   {L"AxBorderStyle", "1"},
      {L"Caption", "ActiveFormX_Foxit"}, {L"Color", "4278190095"},  // 0xFF00000F, the button face
      {L"KeyPreview", "0"},      {L"PixelsPerInch", "96"}, {L"PrintScale", "1"}, {L"Scaled", "-1"},
      {L"Active", "0"},          {L"DropTarget", "0"},     {L"HelpFile", ""},    {L"ScreenSnap", "0"},
      {L"SnapBuffer", "10"},     {L"DoubleBuffered", "0"}, {L"AlignDisabled", "0"},
      {L"VisibleDockClientCount", "0"}, {L"Enabled", "-1"},
  };
  for (const auto& d : defaults) CHECK_EQ(zentrak::test::Narrow(d.name) + " default", c.Text(d.name), d.want);

  // Writes and what reads give back: any non-zero is true; stored values come back as written.
  const struct {
    const wchar_t* name;
    VARIANT value;
    const char* want;
  } writes[] = {
      {L"AutoScroll", Long(7), "-1"},       {L"AutoSize", Long(1), "-1"},     {L"KeyPreview", Long(-5), "-1"},
      {L"PixelsPerInch", Long(120), "120"}, {L"PrintScale", Long(2), "2"},    {L"Scaled", Long(0), "0"},
      {L"DropTarget", Long(1), "-1"},       {L"HelpFile", Text(L"help.chm"), "help.chm"},
      {L"ScreenSnap", Long(1), "-1"},       {L"SnapBuffer", Long(-3), "-3"},  {L"DoubleBuffered", Long(2), "-1"},
      // The caption is text of the system code page: a character that it has survives.
      {L"Caption", Text(L"Invoices \x00E9"), "Invoices \\u00E9"},
      {L"Color", Long(0x0000FF), "255"},    {L"Color", Long(static_cast<LONG>(0x80000005)), "2147483653"},
  };
  for (const auto& w : writes) {
    VARIANT value = w.value;
    CHECK_HR(zentrak::test::Narrow(w.name) + " put", c.Put(w.name, value), S_OK);
    CHECK_EQ(zentrak::test::Narrow(w.name) + " read back", c.Text(w.name), w.want);
    VariantClear(&value);
  }
  // The read-only ones refuse a write.
  for (const wchar_t* name : {L"Active", L"AlignDisabled", L"VisibleDockClientCount"}) {
    CHECK_EQ(zentrak::test::Narrow(name) + " is read only", FAILED(c.Put(name, Long(1))), true);
  }

  HWND form = c.Form();
  wchar_t caption[64] = {};
  GetWindowTextW(form, caption, 64);
  CHECK_EQ("the window's caption", zentrak::test::Narrow(caption), "Invoices \\u00E9");
  c.Put(L"Visible", Long(0));
  CHECK_EQ("Visible false hides the window", (GetWindowLongW(form, GWL_STYLE) & WS_VISIBLE) != 0, false);
  CHECK_EQ("Visible false reads", c.Text(L"Visible"), "0");
  c.Put(L"Visible", Long(1));
  CHECK_EQ("Visible true shows the window", (GetWindowLongW(form, GWL_STYLE) & WS_VISIBLE) != 0, true);
  c.Put(L"Enabled", Long(0));
  CHECK_EQ("Enabled false disables the window", IsWindowEnabled(form) != FALSE, false);
  CHECK_EQ("Enabled false reads", c.Text(L"Enabled"), "0");
  c.Put(L"Enabled", Long(1));
  CHECK_EQ("Enabled true", IsWindowEnabled(form) != FALSE, true);

  // Colours: an RGB value as it is, a negative one as the system colour of its low 8 bits.
  const struct {
    LONG value;
    COLORREF drawn;
  } colours[] = {{0x0000FF, RGB(255, 0, 0)},
                 {0x00FF00, RGB(0, 255, 0)},
                 {static_cast<LONG>(0x80000005), GetSysColor(COLOR_WINDOW)},
                 {static_cast<LONG>(0xFF00000F), GetSysColor(COLOR_BTNFACE)},
                 {static_cast<LONG>(0x80000102), GetSysColor(2)}};
  for (const auto& colour : colours) {
    c.Put(L"Color", Long(colour.value));
    CHECK_EQ("Color " + Hex(colour.value) + " drawn", Hex(static_cast<long>(DrawControl(c.Disp()).centre)),
             Hex(static_cast<long>(colour.drawn)));
  }
  c.Put(L"Color", Long(static_cast<LONG>(0xFF00000F)));
  c.Put(L"Caption", Text(L"ActiveFormX_Foxit"));

  // The font: a platform font object standing for the form's font, and one put copied in.
  ComVariant font;
  CHECK_HR("Font get", c.Get(L"Font", font.Put()), S_OK);
  ComPtr<IFont> ifont;
  if (V_VT(&font.Get()) == VT_DISPATCH && V_DISPATCH(&font.Get()))
    V_DISPATCH(&font.Get())->QueryInterface(IID_IFont, reinterpret_cast<void**>(ifont.Put()));
  CHECK_EQ("Font is a font object", static_cast<bool>(ifont), true);
  if (ifont) {
    Bstr name;
    CY size{};
    ifont->get_Name(name.Put());
    ifont->get_Size(&size);
    CHECK_EQ("Font name", zentrak::test::Narrow(name.Get()), RealizedName(L"MS Sans Serif"));
    CHECK_EQ("Font size", static_cast<long long>(size.int64), 82500LL);
  }
  FONTDESC desc = {sizeof(FONTDESC), const_cast<LPOLESTR>(L"Arial"), {{120000, 0}}, FW_BOLD, ANSI_CHARSET, TRUE, FALSE, FALSE};
  ComPtr<IFontDisp> arial;
  OleCreateFontIndirect(&desc, IID_IFontDisp, reinterpret_cast<void**>(arial.Put()));
  for (WORD kind : {static_cast<WORD>(DISPATCH_PROPERTYPUT), static_cast<WORD>(DISPATCH_PROPERTYPUTREF)}) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_DISPATCH;
    V_DISPATCH(&v) = arial.Get();
    CHECK_HR("Font put kind " + std::to_string(kind), c.Put(L"Font", v, kind), S_OK);
  }
  ComVariant again;
  c.Get(L"Font", again.Put());
  ComPtr<IFont> copied;
  if (V_VT(&again.Get()) == VT_DISPATCH && V_DISPATCH(&again.Get()))
    V_DISPATCH(&again.Get())->QueryInterface(IID_IFont, reinterpret_cast<void**>(copied.Put()));
  if (copied) {
    Bstr name;
    BOOL bold = FALSE, italic = FALSE;
    copied->get_Name(name.Put());
    copied->get_Bold(&bold);
    copied->get_Italic(&italic);
    CHECK_EQ("Font copied: name", zentrak::test::Narrow(name.Get()), RealizedName(L"Arial"));
    CHECK_EQ("Font copied: bold", bold != FALSE, true);
    CHECK_EQ("Font copied: italic", italic != FALSE, true);
  } else {
    CHECK_EQ("Font read after put", false, true);
  }
  CHECK_EQ("Font put with a text fails", FAILED(c.Put(L"Font", Text(L"Arial"))), true);
}

void CheckBorderStyles(const Control& c, HWND host) {
  const struct {
    LONG value;
    DWORD style, ex_style;  // the bits of WS_BORDER | WS_DLGFRAME, and of the two edges
  } cases[] = {
      {2, 0, WS_EX_CLIENTEDGE},
      {3, WS_DLGFRAME, WS_EX_WINDOWEDGE},
      {0, 0, 0},
      {1, WS_BORDER, 0},
  };
  for (const auto& k : cases) {
    HWND before = c.Form();
    CHECK_HR("AxBorderStyle put " + std::to_string(k.value), c.Put(L"AxBorderStyle", Long(k.value)), S_OK);
    HWND form = c.Form();
    std::string what = "AxBorderStyle " + std::to_string(k.value);
    CHECK_EQ(what + " re-creates the window", form != before && IsWindow(form) && !IsWindow(before), true);
    DWORD style = GetWindowLongW(form, GWL_STYLE), ex = GetWindowLongW(form, GWL_EXSTYLE);
    CHECK_EQ(what + " style", Hex(static_cast<long>(style & WS_CAPTION)), Hex(static_cast<long>(k.style)));
    CHECK_EQ(what + " edges", Hex(static_cast<long>(ex & (WS_EX_CLIENTEDGE | WS_EX_WINDOWEDGE))),
             Hex(static_cast<long>(k.ex_style)));
    CHECK_EQ(what + " stays in the container", GetParent(form), host);
    CHECK_EQ(what + " reads", c.Text(L"AxBorderStyle"), std::to_string(k.value));
  }
  HWND form = c.Form();
  c.Put(L"AxBorderStyle", Long(1));
  CHECK_EQ("the same AxBorderStyle again keeps the window", c.Form(), form);
}

// Where the document's window goes: inside the window the form sited its engine in (the recorder
// is an OLE object, so the form sites it through atl.dll), else in the form itself.
HWND DocumentParent(HWND form) {
  HWND site = GetWindow(form, GW_CHILD);
  return site ? site : form;
}

// Events driven by messages to the form's window.
void CheckEvents(IUnknown* control, const Control& c) {
  HWND form = c.Form();
  const int clicks = sink.Count(ev::kOnClick), doubles = sink.Count(ev::kOnDblClick);
  SendMessageW(form, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
  SendMessageW(form, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
  CHECK_EQ("OnClick (its handler fails, the click does not)", sink.Count(ev::kOnClick), clicks + 1);
  SendMessageW(form, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(5, 5));
  CHECK_EQ("OnDblClick", sink.Count(ev::kOnDblClick), doubles + 1);
  CHECK_EQ("a click activates the form", sink.Count(ev::kOnActivate) >= 1, true);
  CHECK_EQ("Active reads true", c.Text(L"Active"), "-1");

  // The keys go on to the document's window: here an edit box the test puts in the form.
  HWND edit = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE, 2, 2, 60, 20, DocumentParent(form), nullptr,
                              nullptr, nullptr);
  const size_t before = sink.Keys().size();
  for (wchar_t key : {L'a', L'x', L'c'}) SendMessageW(form, WM_CHAR, key, 1);
  CHECK_EQ("OnKeyPress saw each key", sink.Keys().substr(before), "axc");
  wchar_t typed[16] = {};
  GetWindowTextW(edit, typed, 16);
  CHECK_EQ("keys replaced and swallowed by the page", zentrak::test::Narrow(typed), "bc");
  DestroyWindow(edit);

  const int paints = sink.Count(ev::kOnPaint);
  InvalidateRect(form, nullptr, TRUE);
  UpdateWindow(form);
  CHECK_EQ("OnPaint", sink.Count(ev::kOnPaint) > paints, true);

  const int deactivations = sink.Count(ev::kOnDeactivate);
  SetFocus(GetParent(form));
  CHECK_EQ("OnDeactivate when the focus leaves", sink.Count(ev::kOnDeactivate), deactivations + 1);
  CHECK_EQ("Active reads false", c.Text(L"Active"), "0");
  (void)control;
}

// A property bag as an embedding element's <param> tags give it: texts by name.
class ParamBag final : public IPropertyBag {
 public:
  std::map<std::wstring, std::wstring> values;
  std::vector<std::wstring> read, written;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPropertyBag)) {
      *out = this;
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE Read(LPCOLESTR name, VARIANT* value, IErrorLog*) override {
    read.push_back(name);
    auto found = values.find(name);
    if (found == values.end()) return E_INVALIDARG;
    V_VT(value) = VT_BSTR;
    V_BSTR(value) = SysAllocString(found->second.c_str());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Write(LPCOLESTR name, VARIANT*) override {
    written.push_back(name);
    return S_OK;
  }
};

std::string Join(const std::vector<std::wstring>& names) {
  std::string out;
  for (const std::wstring& n : names) {
    if (!out.empty()) out += ',';
    out += zentrak::test::Narrow(n.c_str());
  }
  return out;
}

void CheckPersistence() {
  const GUID clsid = ToGUID(Viewer().clsid);
  ComPtr<IUnknown> unknown;
  CHECK_HR("CoCreateInstance", CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                                reinterpret_cast<void**>(unknown.Put())), S_OK);
  if (!unknown) return;
  Control c(unknown.Get());
  ComPtr<IPersistPropertyBag> persist;
  unknown->QueryInterface(IID_IPersistPropertyBag, reinterpret_cast<void**>(persist.Put()));
  ParamBag bag;
  bag.values = {{L"Caption", L"From the page"}, {L"Color", L"255"}, {L"AxBorderStyle", L"sunken"},
                {L"Enabled", L"0"}, {L"SnapBuffer", L"12"}, {L"HelpFile", L"x.hlp"}, {L"Font", L"Arial"}};
  CHECK_HR("property bag load", persist->Load(&bag, nullptr), S_OK);
  const char* order =
      "Visible,AutoScroll,AutoSize,AxBorderStyle,Caption,Color,Font,KeyPreview,PixelsPerInch,PrintScale,Scaled,"
      "DropTarget,HelpFile,ScreenSnap,SnapBuffer,DoubleBuffered,Enabled";
  CHECK_EQ("bag read in interface order", Join(bag.read), order);
  const struct {
    const wchar_t* name;
    const char* want;
  } loaded[] = {{L"Caption", "From the page"}, {L"Color", "255"}, {L"AxBorderStyle", "1"},  // "sunken" refused
                {L"Enabled", "0"}, {L"SnapBuffer", "12"}, {L"HelpFile", "x.hlp"}};
  for (const auto& l : loaded) CHECK_EQ("bag loaded " + zentrak::test::Narrow(l.name), c.Text(l.name), l.want);
  ParamBag saved;
  CHECK_HR("property bag save", persist->Save(&saved, TRUE, TRUE), S_OK);
  CHECK_EQ("bag saved under the same names", Join(saved.written), order);

  // A stream round trip into a second control.
  ComPtr<IPersistStreamInit> stream_persist;
  unknown->QueryInterface(IID_IPersistStreamInit, reinterpret_cast<void**>(stream_persist.Put()));
  ComPtr<IStream> stream;
  CreateStreamOnHGlobal(nullptr, TRUE, stream.Put());
  CHECK_HR("stream save", stream_persist->Save(stream.Get(), TRUE), S_OK);
  LARGE_INTEGER zero = {};
  stream->Seek(zero, STREAM_SEEK_SET, nullptr);
  ComPtr<IUnknown> second;
  CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(second.Put()));
  ComPtr<IPersistStreamInit> second_persist;
  second->QueryInterface(IID_IPersistStreamInit, reinterpret_cast<void**>(second_persist.Put()));
  CHECK_HR("stream load", second_persist->Load(stream.Get()), S_OK);
  Control d(second.Get());
  for (const wchar_t* name : {L"Caption", L"Color", L"Enabled", L"SnapBuffer", L"HelpFile", L"Font"})
    CHECK_EQ("stream kept " + zentrak::test::Narrow(name), d.Text(name), c.Text(name));

  // No property pages; the miscellaneous status of the registration.
  ComPtr<ISpecifyPropertyPages> pages;
  unknown->QueryInterface(IID_ISpecifyPropertyPages, reinterpret_cast<void**>(pages.Put()));
  CAUUID list = {9, nullptr};
  CHECK_HR("GetPages", pages ? pages->GetPages(&list) : E_NOINTERFACE, S_OK);
  CHECK_EQ("no property pages", static_cast<long>(list.cElems), 0L);
  ComPtr<IOleObject> ole;
  unknown->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(ole.Put()));
  DWORD misc = 0;
  if (ole) ole->GetMiscStatus(DVASPECT_CONTENT, &misc);
  CHECK_EQ("miscellaneous status", static_cast<long>(misc), 205201L);
  for (const IID* iid : {&IID_IOleControl, &IID_IOleInPlaceObject, &IID_IOleInPlaceActiveObject, &IID_IViewObject2,
                         &IID_IDataObject, &IID_IPersistStorage, &IID_IQuickActivate, &IID_IPerPropertyBrowsing,
                         &IID_ISimpleFrameSite}) {
    ComPtr<IUnknown> itf;
    CHECK_HR("control interface", unknown->QueryInterface(*iid, reinterpret_cast<void**>(itf.Put())), S_OK);
  }
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> ToPrintFiles(const std::string& folder) {
  std::vector<std::string> out;
  WIN32_FIND_DATAA found;
  HANDLE h = FindFirstFileA((folder + "\\ToPrint*.pdf").c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) return out;
  do out.push_back(found.cFileName);
  while (FindNextFileA(h, &found));
  FindClose(h);
  return out;
}

void CheckPreview(const Control& c) {
  char profile[MAX_PATH] = {};
  GetEnvironmentVariableA("USERPROFILE", profile, MAX_PATH);
  const std::string folder = std::string(profile) + "\\Zentrak";
  const auto before = ToPrintFiles(folder);
  // "%PDF-1.4 viewer" in Base64.
  VARIANT doc = Text(L"JVBERi0xLjQgdmlld2Vy");
  DISPPARAMS params = {&doc, nullptr, 1, 0};
  ComVariant result;
  HRESULT hr = c.Disp()->Invoke(c.Id(L"preview"), IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params,
                                result.Put(), nullptr, nullptr);
  VariantClear(&doc);
  CHECK_HR("preview", hr, S_OK);
  CHECK_EQ("preview answers true", V_VT(&result.Get()) == VT_BOOL && V_BOOL(&result.Get()) == VARIANT_TRUE, true);
  const auto after = ToPrintFiles(folder);
  std::string made;
  for (const std::string& f : after) {
    bool old = false;
    for (const std::string& b : before) old = old || b == f;
    if (!old) made = f;
  }
  CHECK_EQ("preview left one new ToPrint file", after.size(), before.size() + 1);
  // ToPrint, fourteen digits of the time, one or two of the random number.
  bool named = made.size() >= 7 + 14 + 1 + 4 && made.size() <= 7 + 14 + 2 + 4 && made.rfind("ToPrint", 0) == 0;
  for (size_t i = 7; named && i < made.size() - 4; ++i) named = made[i] >= '0' && made[i] <= '9';
  CHECK_EQ("the file's name " + made, named, true);
  CHECK_EQ("the file holds the document", ReadFile(folder + "\\" + made), "%PDF-1.4 viewer");

  char record[MAX_PATH] = {};
  if (GetEnvironmentVariableA("ZENTRAK_RECORD_FILE", record, MAX_PATH) == 0) {
    CHECK_EQ("the recorder's file is named", false, true);
    return;
  }
  // The engine opens the file by its full name with an empty password.
  std::string want = "control 15 call BSTR:'" + folder + "\\" + made + "' BSTR:''";
  std::string calls = ReadFile(record);
  CHECK_EQ("the engine was asked to open the file", calls.find(want) != std::string::npos, true);
  if (calls.find(want) == std::string::npos) std::printf("  recorded:\n%s  wanted: %s\n", calls.c_str(), want.c_str());
}

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Serves the windows until the runner has driven them (or a minute has passed).
void AwaitDriver(const std::string& dir, HWND form) {
  RECT r;
  GetWindowRect(form, &r);
  {
    std::ofstream ready(dir + "\\ready.tmp");
    ready << (r.left + r.right) / 2 << " " << (r.top + r.bottom) / 2 << "\n";
  }
  MoveFileA((dir + "\\ready.tmp").c_str(), (dir + "\\ready").c_str());
  for (DWORD start = GetTickCount(); GetTickCount() - start < 60000 && !Exists(dir + "\\driven");) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    Pump();
  }
  CHECK_EQ("the runner drove the window", Exists(dir + "\\driven"), true);
}

LRESULT CALLBACK HostProc(HWND w, UINT m, WPARAM wp, LPARAM lp) { return DefWindowProcW(w, m, wp, lp); }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::printf("usage: zentrak_viewer_host engine|no-engine HANDSHAKE-DIR\n");
    return 2;
  }
  const bool engine = std::string(argv[1]) == "engine";
  const std::string dir = argv[2];
  OleInitialize(nullptr);
  HMODULE atl = LoadLibraryW(L"atl.dll");
  auto ax_init = reinterpret_cast<AtlAxWinInitFn>(reinterpret_cast<void (*)()>(GetProcAddress(atl, "AtlAxWinInit")));
  auto ax_create = reinterpret_cast<AtlAxCreateControlFn>(
      reinterpret_cast<void (*)()>(GetProcAddress(atl, "AtlAxCreateControl")));
  auto ax_get = reinterpret_cast<AtlAxGetControlFn>(reinterpret_cast<void (*)()>(GetProcAddress(atl, "AtlAxGetControl")));
  if (!ax_init || !ax_create || !ax_get) {
    CHECK_EQ("atl.dll's host", false, true);
    return zentrak::test::Finish();
  }
  ax_init();

  WNDCLASSW cls = {};
  cls.lpfnWndProc = HostProc;
  cls.hInstance = GetModuleHandleW(nullptr);
  cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_APPWORKSPACE + 1);
  cls.lpszClassName = L"ZentrakViewerTestHost";
  RegisterClassW(&cls);
  HWND host = CreateWindowExW(0, cls.lpszClassName, L"Zentrak viewer test", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10,
                              900, 560, nullptr, nullptr, cls.hInstance, nullptr);
  ComPtr<IUnknown> container;
  CHECK_HR("AtlAxCreateControl", ax_create(L"Zentrak.ActiveFormX_Foxit", host, nullptr, container.Put()), S_OK);
  {
  ComPtr<IUnknown> unknown;
  CHECK_HR("AtlAxGetControl", ax_get(host, unknown.Put()), S_OK);
  if (!unknown) return zentrak::test::Finish();
  Control c(unknown.Get());
  Pump();

  HWND form = c.Form();
  CHECK_EQ("the form is placed in the container's window", GetParent(form), host);
  CHECK_EQ("the form is shown", IsWindowVisible(form) != FALSE, true);
  CHECK_EQ("no caption bar", (GetWindowLongW(form, GWL_STYLE) & WS_CAPTION) == WS_CAPTION, false);

  const DWORD cookie = Cookie(unknown.Get(), true);
  CHECK_EQ("OnCreate on the first sink", sink.Count(ev::kOnCreate), 1);
  Cookie(unknown.Get(), false, cookie);
  Cookie(unknown.Get(), true);
  CHECK_EQ("OnCreate not again", sink.Count(ev::kOnCreate), 1);

  if (engine) {
    CheckProperties(c);
    CheckBorderStyles(c, host);
    CheckEvents(unknown.Get(), c);
    CheckPersistence();
    CheckPreview(c);
    // The engine has no window of its own here, so the form draws only its colour.
    CHECK_EQ("with an engine the form draws no notice", DrawControl(unknown.Get()).marks, 0);
  } else {
    CHECK_EQ("without an engine the form says so", DrawControl(unknown.Get()).marks > 0, true);
  }

  // Input from the X server: a click on the form's surface, and keys typed into it.
  SetForegroundWindow(host);
  SetFocus(c.Form());
  const int clicks = sink.Count(ev::kOnClick);
  const size_t keys = sink.Keys().size();
  HWND edit = engine ? CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE, 2, 2, 80, 20, DocumentParent(c.Form()),
                                       nullptr, nullptr, nullptr)
                     : nullptr;
  AwaitDriver(dir, c.Form());
  if (engine) {
    CHECK_EQ("a click from the X server", sink.Count(ev::kOnClick) > clicks, true);
    CHECK_EQ("keys from the X server reached OnKeyPress", sink.Keys().substr(keys), "axc");
    wchar_t typed[16] = {};
    GetWindowTextW(edit, typed, 16);
    CHECK_EQ("typed keys replaced and swallowed", zentrak::test::Narrow(typed), "bc");
  }

  }
  // The container goes: the form is destroyed with the control, and the page hears of it once.
  container.Reset();
  DestroyWindow(host);
  Pump();
  CHECK_EQ("OnDestroy once", sink.Count(ev::kOnDestroy), 1);
  OleUninitialize();
  return zentrak::test::Finish();
}
