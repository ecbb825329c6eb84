// The outside control's window and OLE site. The site answers what in-place activation asks of a
// container and nothing more: there is no document, no menu, no toolbar space and no undo.
#include "print/win32_control_site.h"

#include <ocidl.h>

#include "platform/win32/handles.h"

namespace zentrak {
namespace {

constexpr wchar_t kHostClass[] = L"ZentrakPdfControlHost";
constexpr wchar_t kParkingClass[] = L"ZentrakPdfControlParking";

// The size of the hidden window: the preview's document area, so that a control laid out while
// hidden needs no new layout when it is shown there.
constexpr int kHiddenWidth = 862, kHiddenHeight = 432;

LRESULT CALLBACK HostProc(HWND window, UINT message, WPARAM w, LPARAM l);

void RegisterClasses() {
  static const bool registered = [] {
    platform::RegisterWindowClass(kHostClass, HostProc, COLOR_WINDOW);
    platform::RegisterWindowClass(kParkingClass, DefWindowProcW, -1);
    return true;
  }();
  (void)registered;
}

// The first visible window of this thread in the desktop's Z order. A window of another thread
// is not taken: a child window ties its input queue to its parent's thread. Hidden ones (the
// thread's IME window, tooltips) are not taken either: they are the system's, not the page's.
HWND TopWindowOfThisThread() {
  const DWORD self = GetCurrentThreadId();
  for (HWND w = GetTopWindow(nullptr); w; w = GetWindow(w, GW_HWNDNEXT)) {
    if (GetWindowThreadProcessId(w, nullptr) == self && IsWindowVisible(w)) return w;
  }
  return nullptr;
}

}  // namespace

// The site of one control in one window; reference-counted as COM wants, owned by HostedControl.
class ControlSite final : public IOleClientSite, public IOleInPlaceSite, public IOleInPlaceFrame {
 public:
  explicit ControlSite(HWND window) : window_(window) {}

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_IOleClientSite) {
      *out = static_cast<IOleClientSite*>(this);
    } else if (iid == IID_IOleWindow || iid == IID_IOleInPlaceSite) {
      *out = static_cast<IOleInPlaceSite*>(this);
    } else if (iid == IID_IOleInPlaceUIWindow || iid == IID_IOleInPlaceFrame) {
      *out = static_cast<IOleInPlaceFrame*>(this);
    } else {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
  }

  // IOleClientSite: the control is not part of a document that could be saved or named.
  HRESULT STDMETHODCALLTYPE SaveObject() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker** out) override {
    *out = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetContainer(IOleContainer** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  HRESULT STDMETHODCALLTYPE ShowObject() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnShowWindow(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE RequestNewObjectLayout() override { return E_NOTIMPL; }

  // IOleWindow, for both the site and the frame: the host window.
  HRESULT STDMETHODCALLTYPE GetWindow(HWND* out) override {
    *out = window_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

  // IOleInPlaceSite: the control fills the host window.
  HRESULT STDMETHODCALLTYPE CanInPlaceActivate() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnInPlaceActivate() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnUIActivate() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document, RECT* position,
                                             RECT* clip, OLEINPLACEFRAMEINFO* info) override {
    *frame = this;
    AddRef();
    *document = nullptr;
    GetClientRect(window_, position);
    *clip = *position;
    if (info) {
      info->fMDIApp = FALSE;
      info->hwndFrame = window_;
      info->haccel = nullptr;
      info->cAccelEntries = 0;
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Scroll(SIZE) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnUIDeactivate(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnInPlaceDeactivate() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE DiscardUndoState() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE DeactivateAndUndo() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnPosRectChange(LPCRECT) override { return S_OK; }

  // IOleInPlaceUIWindow and IOleInPlaceFrame: no border space, menus or status line to share.
  HRESULT STDMETHODCALLTYPE GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
  HRESULT STDMETHODCALLTYPE RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
  HRESULT STDMETHODCALLTYPE SetBorderSpace(LPCBORDERWIDTHS) override { return OLE_E_INVALIDRECT; }
  HRESULT STDMETHODCALLTYPE SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE RemoveMenus(HMENU) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetStatusText(LPCOLESTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE EnableModeless(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

  // Tells the in-place control its new size after the host window changed.
  void Resize(IOleObject* control) const {
    IOleInPlaceObject* in_place = nullptr;
    if (control && SUCCEEDED(control->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void**>(&in_place)))) {
      RECT r;
      GetClientRect(window_, &r);
      in_place->SetObjectRects(&r, &r);
      in_place->Release();
    }
  }

 private:
  ~ControlSite() = default;

  HWND window_;
  ULONG refs_ = 1;
};

namespace {

LRESULT CALLBACK HostProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_SIZE) {
    if (auto* hosted = reinterpret_cast<HostedControl*>(GetWindowLongPtrW(window, GWLP_USERDATA))) hosted->Resized();
  }
  return DefWindowProcW(window, message, w, l);
}

}  // namespace

HostedControl::HostedControl(IUnknown* control) {
  RegisterClasses();
  HWND parent = TopWindowOfThisThread();
  if (!parent) {
    parking_ = CreateWindowExW(WS_EX_TOOLWINDOW, kParkingClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                               platform::ThisModule(), nullptr);
    parent = parking_;
  }
  if (parent) {
    window_ = CreateWindowExW(0, kHostClass, L"", WS_CHILD | WS_CLIPCHILDREN, 0, 0, kHiddenWidth, kHiddenHeight, parent,
                              nullptr, platform::ThisModule(), nullptr);
  }
  // Without a display (Wine's null driver) only message-only windows can be made.
  if (!window_) {
    window_ = CreateWindowExW(0, kHostClass, L"", WS_CHILD | WS_CLIPCHILDREN, 0, 0, kHiddenWidth, kHiddenHeight,
                              HWND_MESSAGE, nullptr, platform::ThisModule(), nullptr);
  }
  if (!window_ || FAILED(control->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(&ole_)))) {
    ole_ = nullptr;
    return;
  }
  IPersistStreamInit* persist = nullptr;
  if (SUCCEEDED(control->QueryInterface(IID_IPersistStreamInit, reinterpret_cast<void**>(&persist)))) {
    persist->InitNew();
    persist->Release();
  }
  site_ = new ControlSite(window_);
  ole_->SetClientSite(static_cast<IOleClientSite*>(site_));
  RECT r;
  GetClientRect(window_, &r);
  ole_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, static_cast<IOleClientSite*>(site_), 0, window_, &r);
  SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

HostedControl::~HostedControl() {
  if (window_) SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
  if (ole_) {
    IOleInPlaceObject* in_place = nullptr;
    if (SUCCEEDED(ole_->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void**>(&in_place)))) {
      in_place->InPlaceDeactivate();
      in_place->Release();
    }
    ole_->Close(OLECLOSE_NOSAVE);
    ole_->SetClientSite(nullptr);
    ole_->Release();
  }
  if (site_) static_cast<IOleClientSite*>(site_)->Release();
  if (window_) DestroyWindow(window_);
  if (parking_) DestroyWindow(parking_);
}

void HostedControl::Resized() {
  if (site_) site_->Resize(ole_);
}

bool HostedControl::ShowIn(HWND parent) {
  if (!window_) return false;
  SetParent(window_, parent);
  RECT r;
  GetClientRect(parent, &r);
  SetWindowPos(window_, HWND_TOP, 0, 0, r.right - r.left, r.bottom - r.top, SWP_SHOWWINDOW);
  return true;
}

}  // namespace zentrak
