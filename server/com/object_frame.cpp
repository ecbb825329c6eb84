// The COM identity of an automation object.
#include "server/com/object_frame.h"

#include "base/exception.h"
#include "server/com/com_interfaces.h"
#include "server/com/connection_point.h"
#include "server/com/control_part.h"
#include "server/com/viewer_window.h"
#include "control/active_form.h"
#include "server/com/failure_guard.h"
#include "server/com/factory.h"
#include "server/com/server.h"
#include "automation/dispatch.h"
#include "catalog/catalog.h"

namespace zentrak::com {

ObjectFrame* ObjectFrame::Create(ClassFactory& factory, IUnknown* outer) {
  std::unique_ptr<AutomationObject> object = CreateObject(factory.Class());
  if (!object) throw Exception(std::string("No implementation for class ") + factory.Class().impl_name);
  return new ObjectFrame(factory, outer, std::move(object));
}

ObjectFrame::ObjectFrame(ClassFactory& factory, IUnknown* outer, std::unique_ptr<AutomationObject> object)
    : factory_(factory),
      controlling_(outer ? outer : &inner_),
      object_(std::move(object)),
      dual_(NewDualPart(factory.Class().default_interface->name, *this)) {
  // Initialisation: the connection points; the reference count is held at 1 meanwhile.
  // The events point is also where the object's events go.
  IConnectionPointContainer& container = *this;
  if (factory.EventsIid()) {
    points_.push_back(
        std::make_unique<ConnectionPoint>(container, *factory.EventsIid(), true, factory.Class().default_source));
    // The object hears of a page's handler when one connects (the control raises OnCreate then),
    // and raises nothing while none is connected.
    ConnectionPoint* events = points_.back().get();
    events->OnSinksChanged([this, events](bool connected) { object_->SetEventSink(connected ? events : nullptr); });
  }
  if (factory.Class().control) {
    points_.push_back(std::make_unique<ConnectionPoint>(container, IID_IPropertyNotifySink, false, nullptr));
    Win32ViewerForm* form = nullptr;
    if (auto* viewer = dynamic_cast<TActiveFormControl*>(object_.get()))
      form = dynamic_cast<Win32ViewerForm*>(&viewer->Form());
    control_ = std::make_unique<ControlPart>(*this, form);
  }
  Server::Instance().ObjectCreated();
}

ObjectFrame::~ObjectFrame() {
  // The form's window goes while the page's handler is still connected, so OnDestroy reaches it.
  if (control_) control_->Shutdown();
  object_->SetEventSink(nullptr);
  control_.reset();
  points_.clear();
  object_.reset();
  Server::Instance().ObjectDestroyed();
}

bool ObjectFrame::HasInterface(REFIID iid) {
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch)) return true;
  if (IsEqualIID(iid, IID_IConnectionPointContainer) || IsEqualIID(iid, IID_ISupportErrorInfo) ||
      IsEqualIID(iid, IID_IProvideClassInfo))
    return true;
  if (control_ && (control_->Find(iid) || IsEqualIID(iid, IID_IObjectSafety))) return true;
  return ObjectHasInterface(Class(), FromGUID(iid));
}

HRESULT ObjectFrame::InnerUnknown::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  ObjectFrame& f = frame_;
  IUnknown* itf = nullptr;
  if (IsEqualIID(iid, IID_IUnknown)) {
    itf = this;
  } else if (IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, f.factory_.ErrorIid())) {
    itf = f.dual_.get();
  } else if (IsEqualIID(iid, IID_IConnectionPointContainer)) {
    itf = static_cast<IConnectionPointContainer*>(&f);
  } else if (IsEqualIID(iid, IID_ISupportErrorInfo)) {
    itf = static_cast<ISupportErrorInfo*>(&f);
  } else if (IsEqualIID(iid, IID_IProvideClassInfo)) {
    itf = static_cast<IProvideClassInfo*>(&f);
  } else if (IsEqualIID(iid, IID_IObjectSafety) && (f.Class().object_safety || f.control_)) {
    itf = static_cast<IObjectSafety*>(&f);
  } else if (f.control_) {
    itf = f.control_->Find(iid);
  }
  if (!itf) return E_NOINTERFACE;
  itf->AddRef();
  *out = itf;
  return S_OK;
}

ULONG ObjectFrame::InnerUnknown::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&frame_.refs_)); }

ULONG ObjectFrame::InnerUnknown::Release() {
  LONG n = InterlockedDecrement(&frame_.refs_);
  if (n == 0) {
    // A container told of the control's going may take and drop references meanwhile.
    frame_.refs_ = 1;
    delete &frame_;
  }
  return static_cast<ULONG>(n);
}

HRESULT ObjectFrame::QueryInterface(REFIID iid, void** out) { return controlling_->QueryInterface(iid, out); }
ULONG ObjectFrame::AddRef() { return controlling_->AddRef(); }
ULONG ObjectFrame::Release() { return controlling_->Release(); }

HRESULT ObjectFrame::EnumConnectionPoints(IEnumConnectionPoints** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  return ComGuard(nullptr, [&] {
    std::vector<IConnectionPoint*> points;
    for (auto& p : points_) points.push_back(p.get());
    return NewConnectionPointEnumerator(static_cast<IConnectionPointContainer*>(this), points, out);
  });
}

HRESULT ObjectFrame::FindConnectionPoint(REFIID iid, IConnectionPoint** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  for (auto& p : points_) {
    if (IsEqualIID(p->Iid(), iid)) {
      *out = p.get();
      p->AddRef();
      return S_OK;
    }
  }
  return CONNECT_E_NOCONNECTION;
}

HRESULT ObjectFrame::GetInterfaceSafetyOptions(REFIID iid, DWORD* supported, DWORD* enabled) {
  if (control_ && supported && enabled && HasInterface(iid)) {
    // The control offers both options and reports the ones its container enabled.
    *supported = 3;
    *enabled = safety_options_ & 3;
    return S_OK;
  }
  uint32_t s = 0, e = 0;
  int32_t hr = zentrak::GetInterfaceSafetyOptions(Class(), FromGUID(iid), supported ? &s : nullptr,
                                                  enabled ? &e : nullptr);
  if (supported && enabled) {
    *supported = s;
    *enabled = e;
  }
  return hr;
}

HRESULT ObjectFrame::SetInterfaceSafetyOptions(REFIID iid, DWORD mask, DWORD enabled) {
  if (control_ && HasInterface(iid)) {
    safety_options_ = mask & enabled;
    return S_OK;
  }
  return zentrak::SetInterfaceSafetyOptions(Class(), FromGUID(iid), mask, enabled);
}

HRESULT ObjectFrame::InterfaceSupportsErrorInfo(REFIID iid) { return HasInterface(iid) ? S_OK : S_FALSE; }

HRESULT ObjectFrame::GetClassInfo(ITypeInfo** out) {
  if (!out) return E_POINTER;
  *out = factory_.ClassInfo();
  (*out)->AddRef();
  return S_OK;
}

HRESULT ObjectFrame::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = TypeInfoCount();
  return S_OK;
}

HRESULT ObjectFrame::GetTypeInfo(UINT index, LCID, ITypeInfo** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  const InterfaceDesc* itf = nullptr;
  int32_t hr = zentrak::GetTypeInfo(Class(), index, itf);
  if (hr < 0) return hr;
  *out = factory_.DispatchInfo();
  (*out)->AddRef();
  return S_OK;
}

HRESULT ObjectFrame::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  return DispGetIDsOfNames(factory_.InterfaceInfo(), names, count, ids);
}

HRESULT ObjectFrame::Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                            EXCEPINFO* excep, UINT* arg_error) {
  if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  // A write reaches whichever put member the DISPID has.
  if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) flags |= DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF;
  return DispInvoke(dual_.get(), factory_.InterfaceInfo(), id, flags, params, result, excep, arg_error);
}

}  // namespace zentrak::com
