// The viewer's control interfaces.
#include "server/com/control_part.h"

#include <cstring>

#include "automation/registration.h"
#include "server/com/factory.h"
#include "server/com/failure_guard.h"
#include "server/com/object_frame.h"
#include "server/com/viewer_window.h"

namespace zentrak::com {
namespace {

// Pixels at 96 per inch in hundredths of a millimetre; the form starts 870 by 500.
constexpr LONG Himetric(LONG pixels) { return (pixels * 2540 + 48) / 96; }
constexpr LONG kExtentWidth = Himetric(870), kExtentHeight = Himetric(500);

// The stream's layout: a count of properties, then each one as a VARTYPE and its value (booleans
// as 16 bits, numbers as 32, texts as a length in characters and the UTF-16 characters, the font
// as the font object's own stream). A newer layout would begin with another count.
HRESULT Write(IStream* s, const void* data, ULONG size) {
  ULONG written = 0;
  HRESULT hr = s->Write(data, size, &written);
  return FAILED(hr) ? hr : (written == size ? S_OK : STG_E_MEDIUMFULL);
}

HRESULT Read(IStream* s, void* data, ULONG size) {
  ULONG read = 0;
  HRESULT hr = s->Read(data, size, &read);
  return FAILED(hr) ? hr : (read == size ? S_OK : E_FAIL);
}

HRESULT WriteValue(IStream* s, const VARIANT& v) {
  VARTYPE vt = V_VT(&v);
  HRESULT hr = Write(s, &vt, sizeof vt);
  if (FAILED(hr)) return hr;
  switch (vt) {
    case VT_BOOL: return Write(s, &V_BOOL(&v), sizeof(VARIANT_BOOL));
    case VT_I4:
    case VT_UI4: return Write(s, &V_I4(&v), sizeof(LONG));
    case VT_BSTR: {
      ULONG n = SysStringLen(V_BSTR(&v));
      hr = Write(s, &n, sizeof n);
      return FAILED(hr) ? hr : Write(s, V_BSTR(&v), n * sizeof(OLECHAR));
    }
    case VT_DISPATCH: {
      ComPtr<IPersistStream> persist;
      if (!V_DISPATCH(&v) ||
          FAILED(V_DISPATCH(&v)->QueryInterface(IID_IPersistStream, reinterpret_cast<void**>(persist.Put()))))
        return E_FAIL;
      return OleSaveToStream(persist.Get(), s);
    }
    default: return E_FAIL;
  }
}

HRESULT ReadValue(IStream* s, VARIANT* v) {
  VARTYPE vt = VT_EMPTY;
  HRESULT hr = Read(s, &vt, sizeof vt);
  if (FAILED(hr)) return hr;
  switch (vt) {
    case VT_BOOL:
      V_VT(v) = VT_BOOL;
      return Read(s, &V_BOOL(v), sizeof(VARIANT_BOOL));
    case VT_I4:
    case VT_UI4:
      V_VT(v) = vt;
      return Read(s, &V_I4(v), sizeof(LONG));
    case VT_BSTR: {
      ULONG n = 0;
      hr = Read(s, &n, sizeof n);
      if (FAILED(hr)) return hr;
      if (n > (1u << 24)) return E_FAIL;
      BSTR text = SysAllocStringLen(nullptr, n);
      if (!text) return E_OUTOFMEMORY;
      V_VT(v) = VT_BSTR;
      V_BSTR(v) = text;
      return Read(s, text, n * sizeof(OLECHAR));
    }
    case VT_DISPATCH: {
      IDispatch* font = nullptr;
      hr = OleLoadFromStream(s, IID_IDispatch, reinterpret_cast<void**>(&font));
      if (FAILED(hr)) return hr;
      V_VT(v) = VT_DISPATCH;
      V_DISPATCH(v) = font;
      return S_OK;
    }
    default: return E_FAIL;
  }
}

}  // namespace

ControlPart::ControlPart(ObjectFrame& frame, Win32ViewerForm* form)
    : frame_(frame), form_(form), extent_{kExtentWidth, kExtentHeight} {}

ControlPart::~ControlPart() { Shutdown(); }

void ControlPart::Shutdown() {
  if (in_place_) InPlaceDeactivate();
  view_sink_.Reset();
  advise_holder_.Reset();
  site_.Reset();
  if (form_) form_->Close();
}

IUnknown* ControlPart::Find(REFIID iid) {
  if (IsEqualIID(iid, IID_IOleObject)) return static_cast<IOleObject*>(this);
  if (IsEqualIID(iid, IID_IOleControl)) return static_cast<IOleControl*>(this);
  if (IsEqualIID(iid, IID_IOleWindow) || IsEqualIID(iid, IID_IOleInPlaceObject))
    return static_cast<IOleInPlaceObject*>(this);
  if (IsEqualIID(iid, IID_IOleInPlaceActiveObject)) return static_cast<IOleInPlaceActiveObject*>(this);
  if (IsEqualIID(iid, IID_IViewObject) || IsEqualIID(iid, IID_IViewObject2)) return static_cast<IViewObject2*>(this);
  if (IsEqualIID(iid, IID_IDataObject)) return static_cast<IDataObject*>(this);
  if (IsEqualIID(iid, IID_IPersist) || IsEqualIID(iid, IID_IPersistStreamInit))
    return static_cast<IPersistStreamInit*>(this);
  if (IsEqualIID(iid, IID_IPersistStorage)) return static_cast<IPersistStorage*>(this);
  if (IsEqualIID(iid, IID_IPersistPropertyBag)) return static_cast<IPersistPropertyBag*>(this);
  if (IsEqualIID(iid, IID_IQuickActivate)) return static_cast<IQuickActivate*>(this);
  if (IsEqualIID(iid, IID_ISpecifyPropertyPages)) return static_cast<ISpecifyPropertyPages*>(this);
  if (IsEqualIID(iid, IID_IPerPropertyBrowsing)) return static_cast<IPerPropertyBrowsing*>(this);
  if (IsEqualIID(iid, IID_ISimpleFrameSite)) return static_cast<ISimpleFrameSite*>(this);
  return nullptr;
}

HRESULT ControlPart::QueryInterface(REFIID iid, void** out) { return frame_.QueryInterface(iid, out); }
ULONG ControlPart::AddRef() { return frame_.AddRef(); }
ULONG ControlPart::Release() { return frame_.Release(); }

// --- IOleObject --------------------------------------------------------------------------------

HRESULT ControlPart::SetClientSite(IOleClientSite* site) {
  site_ = ComPtr<IOleClientSite>(site);
  return S_OK;
}

HRESULT ControlPart::GetClientSite(IOleClientSite** site) {
  if (!site) return E_POINTER;
  *site = site_.Get();
  if (*site) (*site)->AddRef();
  return S_OK;
}

HRESULT ControlPart::SetHostNames(LPCOLESTR, LPCOLESTR) { return S_OK; }

HRESULT ControlPart::Close(DWORD) {
  if (in_place_) InPlaceDeactivate();
  if (advise_holder_) advise_holder_->SendOnClose();
  return S_OK;
}

HRESULT ControlPart::SetMoniker(DWORD, IMoniker*) { return E_NOTIMPL; }

HRESULT ControlPart::GetMoniker(DWORD, DWORD, IMoniker** moniker) {
  if (moniker) *moniker = nullptr;
  return E_NOTIMPL;
}

HRESULT ControlPart::InitFromData(IDataObject*, BOOL, DWORD) { return E_NOTIMPL; }

HRESULT ControlPart::GetClipboardData(DWORD, IDataObject** data) {
  if (data) *data = nullptr;
  return E_NOTIMPL;
}

HRESULT ControlPart::Activate(bool ui_active) {
  if (!site_) return E_UNEXPECTED;
  if (!form_) return E_FAIL;
  return ComGuard(nullptr, [&]() -> HRESULT {
    if (!in_place_) {
      ComPtr<IOleInPlaceSite> site;
      if (FAILED(site_->QueryInterface(IID_IOleInPlaceSite, reinterpret_cast<void**>(site.Put())))) return E_FAIL;
      if (site->CanInPlaceActivate() != S_OK) return E_FAIL;
      site->OnInPlaceActivate();
      HWND parent = nullptr;
      site->GetWindow(&parent);
      RECT position = {}, clip = {};
      OLEINPLACEFRAMEINFO info = {};
      info.cb = sizeof info;
      site->GetWindowContext(in_place_frame_.Put(), ui_window_.Put(), &position, &clip, &info);
      form_->Place(parent, &position);
      in_place_site_ = site;
      in_place_ = true;
    }
    if (ui_active && !ui_active_) {
      ui_active_ = true;
      in_place_site_->OnUIActivate();
      SetFocus(form_->Window());
      IOleInPlaceActiveObject* active = this;
      if (in_place_frame_) in_place_frame_->SetActiveObject(active, nullptr);
      if (ui_window_) ui_window_->SetActiveObject(active, nullptr);
    }
    return S_OK;
  });
}

HRESULT ControlPart::DoVerb(LONG verb, LPMSG, IOleClientSite* site, LONG, HWND, LPCRECT) {
  if (site && !site_) SetClientSite(site);
  switch (verb) {
    case OLEIVERB_PRIMARY:
    case OLEIVERB_SHOW:
    case OLEIVERB_OPEN:
    case OLEIVERB_UIACTIVATE: return Activate(true);
    case OLEIVERB_INPLACEACTIVATE: return Activate(false);
    case OLEIVERB_HIDE:
      if (form_ && form_->Window()) ShowWindow(form_->Window(), SW_HIDE);
      return UIDeactivate();
    default: return verb < 0 ? E_NOTIMPL : OLEOBJ_S_INVALIDVERB;
  }
}

HRESULT ControlPart::EnumVerbs(IEnumOLEVERB** verbs) {
  if (!verbs) return E_POINTER;
  *verbs = nullptr;
  return OleRegEnumVerbs(frame_.Factory().Clsid(), verbs);
}

HRESULT ControlPart::Update() { return S_OK; }
HRESULT ControlPart::IsUpToDate() { return S_OK; }

HRESULT ControlPart::GetUserClassID(CLSID* clsid) {
  if (!clsid) return E_POINTER;
  *clsid = frame_.Factory().Clsid();
  return S_OK;
}

HRESULT ControlPart::GetUserType(DWORD form, LPOLESTR* type) {
  if (!type) return E_POINTER;
  *type = nullptr;
  return OleRegGetUserType(frame_.Factory().Clsid(), form, type);
}

HRESULT ControlPart::SetExtent(DWORD aspect, SIZEL* size) {
  if (!size) return E_POINTER;
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  extent_ = *size;
  return S_OK;
}

HRESULT ControlPart::GetExtent(DWORD aspect, SIZEL* size) {
  if (!size) return E_POINTER;
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  *size = extent_;
  return S_OK;
}

HRESULT ControlPart::Advise(IAdviseSink* sink, DWORD* cookie) {
  if (!cookie) return E_POINTER;
  *cookie = 0;
  if (!advise_holder_) {
    HRESULT hr = CreateOleAdviseHolder(advise_holder_.Put());
    if (FAILED(hr)) return hr;
  }
  return advise_holder_->Advise(sink, cookie);
}

HRESULT ControlPart::Unadvise(DWORD cookie) {
  return advise_holder_ ? advise_holder_->Unadvise(cookie) : OLE_E_NOCONNECTION;
}

HRESULT ControlPart::EnumAdvise(IEnumSTATDATA** advise) {
  if (!advise) return E_POINTER;
  *advise = nullptr;
  return advise_holder_ ? advise_holder_->EnumAdvise(advise) : E_FAIL;
}

HRESULT ControlPart::GetMiscStatus(DWORD, DWORD* status) {
  if (!status) return E_POINTER;
  *status = kViewerMiscStatus;
  return S_OK;
}

HRESULT ControlPart::SetColorScheme(LOGPALETTE*) { return E_NOTIMPL; }

// --- IOleControl -------------------------------------------------------------------------------

HRESULT ControlPart::GetControlInfo(CONTROLINFO* info) {
  if (!info) return E_POINTER;
  info->hAccel = nullptr;
  info->cAccel = 0;
  info->dwFlags = 0;
  return S_OK;
}

HRESULT ControlPart::OnMnemonic(MSG*) { return E_NOTIMPL; }
HRESULT ControlPart::OnAmbientPropertyChange(DISPID) { return S_OK; }

HRESULT ControlPart::FreezeEvents(BOOL freeze) {
  frozen_ += freeze ? 1 : (frozen_ > 0 ? -1 : 0);
  return S_OK;
}

// --- In-place ----------------------------------------------------------------------------------

HRESULT ControlPart::GetWindow(HWND* window) {
  if (!window) return E_POINTER;
  *window = form_ ? form_->Window() : nullptr;
  return *window ? S_OK : E_FAIL;
}

HRESULT ControlPart::ContextSensitiveHelp(BOOL) { return E_NOTIMPL; }

HRESULT ControlPart::InPlaceDeactivate() {
  if (!in_place_) return S_OK;
  UIDeactivate();
  in_place_ = false;
  if (form_) form_->Place(nullptr, nullptr);
  ComPtr<IOleInPlaceSite> site = std::move(in_place_site_);
  in_place_frame_.Reset();
  ui_window_.Reset();
  if (site) site->OnInPlaceDeactivate();
  return S_OK;
}

HRESULT ControlPart::UIDeactivate() {
  if (!ui_active_) return S_OK;
  ui_active_ = false;
  if (in_place_frame_) in_place_frame_->SetActiveObject(nullptr, nullptr);
  if (ui_window_) ui_window_->SetActiveObject(nullptr, nullptr);
  if (in_place_site_) in_place_site_->OnUIDeactivate(FALSE);
  return S_OK;
}

HRESULT ControlPart::SetObjectRects(LPCRECT position, LPCRECT) {
  if (!position) return E_POINTER;
  if (form_ && form_->Window())
    MoveWindow(form_->Window(), position->left, position->top, position->right - position->left,
               position->bottom - position->top, TRUE);
  return S_OK;
}

HRESULT ControlPart::ReactivateAndUndo() { return E_NOTIMPL; }
HRESULT ControlPart::TranslateAccelerator(LPMSG) { return S_FALSE; }
HRESULT ControlPart::OnFrameWindowActivate(BOOL) { return S_OK; }
HRESULT ControlPart::OnDocWindowActivate(BOOL) { return S_OK; }
HRESULT ControlPart::ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) { return S_OK; }
HRESULT ControlPart::EnableModeless(BOOL) { return S_OK; }

// --- IViewObject2 ------------------------------------------------------------------------------

HRESULT ControlPart::Draw(DWORD aspect, LONG, void*, DVTARGETDEVICE*, HDC, HDC dc, LPCRECTL bounds, LPCRECTL,
                          BOOL(STDMETHODCALLTYPE*)(ULONG_PTR), ULONG_PTR) {
  if (!dc || !bounds) return E_INVALIDARG;
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  RECT r = {bounds->left, bounds->top, bounds->right, bounds->bottom};
  if (form_) form_->PaintTo(dc, r);
  // The form's frame and caption, as a design surface shows the control.
  FrameRect(dc, &r, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  if (form_) {
    std::wstring caption = Wide(form_->Caption());
    RECT text = {r.left + 4, r.top + 2, r.right - 4, r.bottom - 2};
    SetBkMode(dc, TRANSPARENT);
    DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &text, DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);
  }
  return S_OK;
}

HRESULT ControlPart::GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE** colors) {
  if (colors) *colors = nullptr;
  return S_FALSE;
}

HRESULT ControlPart::Freeze(DWORD, LONG, void*, DWORD* freeze) {
  if (freeze) *freeze = 0;
  return E_NOTIMPL;
}

HRESULT ControlPart::Unfreeze(DWORD) { return E_NOTIMPL; }

HRESULT ControlPart::SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) {
  view_aspects_ = aspects;
  view_flags_ = flags;
  view_sink_ = ComPtr<IAdviseSink>(sink);
  return S_OK;
}

HRESULT ControlPart::GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) {
  if (aspects) *aspects = view_aspects_;
  if (flags) *flags = view_flags_;
  if (sink) {
    *sink = view_sink_.Get();
    if (*sink) (*sink)->AddRef();
  }
  return S_OK;
}

HRESULT ControlPart::GetExtent(DWORD aspect, LONG, DVTARGETDEVICE*, LPSIZEL size) { return GetExtent(aspect, size); }

// --- IDataObject -------------------------------------------------------------------------------

HRESULT ControlPart::GetData(FORMATETC*, STGMEDIUM*) { return E_NOTIMPL; }
HRESULT ControlPart::GetDataHere(FORMATETC*, STGMEDIUM*) { return E_NOTIMPL; }
HRESULT ControlPart::QueryGetData(FORMATETC*) { return E_NOTIMPL; }
HRESULT ControlPart::GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) {
  if (out) out->ptd = nullptr;
  return E_NOTIMPL;
}
HRESULT ControlPart::SetData(FORMATETC*, STGMEDIUM*, BOOL) { return E_NOTIMPL; }
HRESULT ControlPart::EnumFormatEtc(DWORD, IEnumFORMATETC** formats) {
  if (formats) *formats = nullptr;
  return E_NOTIMPL;
}
HRESULT ControlPart::DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD* cookie) {
  if (cookie) *cookie = 0;
  return OLE_E_ADVISENOTSUPPORTED;
}
HRESULT ControlPart::DUnadvise(DWORD) { return OLE_E_ADVISENOTSUPPORTED; }
HRESULT ControlPart::EnumDAdvise(IEnumSTATDATA** advise) {
  if (advise) *advise = nullptr;
  return OLE_E_ADVISENOTSUPPORTED;
}

// --- Persistence -------------------------------------------------------------------------------

const std::vector<ControlPart::Persisted>& ControlPart::PersistedProperties() {
  static const std::vector<Persisted> list = [] {
    std::vector<Persisted> out;
    const InterfaceDesc& itf = *ActiveFormClass().default_interface;
    for (const MemberDesc& get : itf.members) {
      if (get.kind != MemberKind::kPropertyGet) continue;
      bool writable = false;
      for (const MemberDesc& put : itf.members) {
        if (put.dispid == get.dispid && put.kind == MemberKind::kPropertyPut) writable = true;
      }
      if (!writable) continue;
      std::wstring name;
      for (const char* c = get.name; *c; ++c) name += static_cast<wchar_t>(*c);
      out.push_back({name, get.dispid});
    }
    return out;
  }();
  return list;
}

HRESULT ControlPart::ReadProperty(DISPID id, VARIANT* value) {
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  return frame_.Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, value, nullptr, nullptr);
}

HRESULT ControlPart::WriteProperty(DISPID id, VARIANT* value) {
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS params = {value, &named, 1, 1};
  EXCEPINFO excep = {};
  HRESULT hr = frame_.Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params, nullptr, &excep, nullptr);
  SysFreeString(excep.bstrSource);
  SysFreeString(excep.bstrDescription);
  SysFreeString(excep.bstrHelpFile);
  return hr;
}

HRESULT ControlPart::GetClassID(CLSID* clsid) { return GetUserClassID(clsid); }
HRESULT ControlPart::IsDirty() { return dirty_ ? S_OK : S_FALSE; }
HRESULT ControlPart::InitNew() { return S_OK; }

HRESULT ControlPart::Load(LPSTREAM stream) {
  if (!stream) return E_POINTER;
  return ComGuard(nullptr, [&]() -> HRESULT {
    ULONG count = 0;
    HRESULT hr = Read(stream, &count, sizeof count);
    if (FAILED(hr)) return hr;
    const auto& list = PersistedProperties();
    if (count != list.size()) return E_FAIL;
    for (const Persisted& p : list) {
      ComVariant value;
      hr = ReadValue(stream, value.Put());
      if (FAILED(hr)) return hr;
      WriteProperty(p.dispid, &value.Value());  // one property's failure is not the load's
    }
    dirty_ = false;
    return S_OK;
  });
}

HRESULT ControlPart::Save(LPSTREAM stream, BOOL clear_dirty) {
  if (!stream) return E_POINTER;
  return ComGuard(nullptr, [&]() -> HRESULT {
    const auto& list = PersistedProperties();
    ULONG count = static_cast<ULONG>(list.size());
    HRESULT hr = Write(stream, &count, sizeof count);
    for (const Persisted& p : list) {
      if (FAILED(hr)) return hr;
      ComVariant value;
      hr = ReadProperty(p.dispid, value.Put());
      if (SUCCEEDED(hr)) hr = WriteValue(stream, value.Get());
    }
    if (SUCCEEDED(hr) && clear_dirty) dirty_ = false;
    return hr;
  });
}

HRESULT ControlPart::GetSizeMax(ULARGE_INTEGER* size) {
  if (size) size->QuadPart = 0;
  return E_NOTIMPL;
}

HRESULT ControlPart::InitNew(IStorage*) { return S_OK; }

HRESULT ControlPart::Load(IStorage* storage) {
  if (!storage) return E_POINTER;
  ComPtr<IStream> stream;
  HRESULT hr = storage->OpenStream(L"Contents", nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, stream.Put());
  return FAILED(hr) ? hr : Load(stream.Get());
}

HRESULT ControlPart::Save(IStorage* storage, BOOL) {
  if (!storage) return E_POINTER;
  ComPtr<IStream> stream;
  HRESULT hr = storage->CreateStream(L"Contents", STGM_WRITE | STGM_SHARE_EXCLUSIVE | STGM_CREATE, 0, 0, stream.Put());
  return FAILED(hr) ? hr : Save(stream.Get(), TRUE);
}

HRESULT ControlPart::SaveCompleted(IStorage*) { return S_OK; }
HRESULT ControlPart::HandsOffStorage() { return S_OK; }

HRESULT ControlPart::Load(IPropertyBag* bag, IErrorLog* log) {
  if (!bag) return E_POINTER;
  return ComGuard(nullptr, [&]() -> HRESULT {
    // Each property the bag has a value for is written through dispatch, in interface order; a
    // value the property refuses leaves it as it was, and the load goes on.
    for (const Persisted& p : PersistedProperties()) {
      ComVariant value;
      if (FAILED(bag->Read(p.name.c_str(), value.Put(), log))) continue;
      WriteProperty(p.dispid, &value.Value());
    }
    dirty_ = false;
    return S_OK;
  });
}

HRESULT ControlPart::Save(IPropertyBag* bag, BOOL clear_dirty, BOOL) {
  if (!bag) return E_POINTER;
  return ComGuard(nullptr, [&]() -> HRESULT {
    for (const Persisted& p : PersistedProperties()) {
      ComVariant value;
      HRESULT hr = ReadProperty(p.dispid, value.Put());
      if (SUCCEEDED(hr)) hr = bag->Write(p.name.c_str(), &value.Value());
      if (FAILED(hr)) return hr;
    }
    if (clear_dirty) dirty_ = false;
    return S_OK;
  });
}

// --- IQuickActivate ----------------------------------------------------------------------------

HRESULT ControlPart::QuickActivate(QACONTAINER* container, QACONTROL* control) {
  if (!container || !control) return E_POINTER;
  if (container->cbSize < sizeof(QACONTAINER) || control->cbSize < sizeof(QACONTROL)) return E_INVALIDARG;
  ULONG size = control->cbSize;
  std::memset(control, 0, size);
  control->cbSize = size;
  if (container->pClientSite) SetClientSite(container->pClientSite);
  if (container->pAdviseSink) SetAdvise(DVASPECT_CONTENT, 0, container->pAdviseSink);
  ComPtr<IConnectionPoint> point;
  if (container->pUnkEventSink && frame_.Factory().EventsIid() &&
      SUCCEEDED(frame_.FindConnectionPoint(*frame_.Factory().EventsIid(), point.Put())))
    point->Advise(container->pUnkEventSink, &control->dwEventCookie);
  if (container->pPropertyNotifySink && SUCCEEDED(frame_.FindConnectionPoint(IID_IPropertyNotifySink, point.Put())))
    point->Advise(container->pPropertyNotifySink, &control->dwPropNotifyCookie);
  control->dwMiscStatus = kViewerMiscStatus;
  control->dwViewStatus = VIEWSTATUS_OPAQUE;
  control->dwPointerActivationPolicy = 0;
  return S_OK;
}

HRESULT ControlPart::SetContentExtent(LPSIZEL size) { return SetExtent(DVASPECT_CONTENT, size); }
HRESULT ControlPart::GetContentExtent(LPSIZEL size) { return GetExtent(DVASPECT_CONTENT, size); }

// --- Property pages and browsing ---------------------------------------------------------------

HRESULT ControlPart::GetPages(CAUUID* pages) {
  if (!pages) return E_POINTER;
  pages->cElems = 0;
  pages->pElems = nullptr;
  return S_OK;
}

HRESULT ControlPart::GetDisplayString(DISPID, BSTR* text) {
  if (text) *text = nullptr;
  return E_NOTIMPL;
}

HRESULT ControlPart::MapPropertyToPage(DISPID, CLSID* page) {
  if (page) *page = CLSID_NULL;
  return PERPROP_E_NOPAGEAVAILABLE;
}

HRESULT ControlPart::GetPredefinedStrings(DISPID, CALPOLESTR* strings, CADWORD* cookies) {
  if (strings) *strings = {0, nullptr};
  if (cookies) *cookies = {0, nullptr};
  return E_NOTIMPL;
}

HRESULT ControlPart::GetPredefinedValue(DISPID, DWORD, VARIANT* value) {
  if (value) VariantInit(value);
  return E_NOTIMPL;
}

HRESULT ControlPart::PreMessageFilter(HWND, UINT, WPARAM, LPARAM, LRESULT* result, DWORD* cookie) {
  if (result) *result = 0;
  if (cookie) *cookie = 0;
  return S_OK;
}

HRESULT ControlPart::PostMessageFilter(HWND, UINT, WPARAM, LPARAM, LRESULT* result, DWORD) {
  if (result) *result = 0;
  return S_OK;
}

}  // namespace zentrak::com
