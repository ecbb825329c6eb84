// ObjectFrame: the COM identity of one automation object of the system. It owns the portable
// object (the behaviour) and gives it the platform's interfaces: IUnknown (with aggregation),
// the dual dispatch interface, IConnectionPointContainer, ISupportErrorInfo, IProvideClassInfo
// and, for LocalDB and PrintServer, IObjectSafety. The viewer control also gets the control
// interfaces of ControlPart and an IObjectSafety that keeps the options a container sets.
#pragma once

#include <windows.h>
#include <objsafe.h>
#include <ocidl.h>
#include <olectl.h>

#include <memory>
#include <vector>

#include "automation/automation_object.h"
#include "server/com/com_util.h"

namespace zentrak::com {

class ClassFactory;
class ConnectionPoint;
class ControlPart;

// The dual part of an object, deleted as the type it was made as (COM interfaces have no virtual
// destructors).
using DualPartPtr = std::unique_ptr<IDispatch, void (*)(IDispatch*)>;

class ObjectFrame final : public IConnectionPointContainer,
                          public IObjectSafety,
                          public ISupportErrorInfo,
                          public IProvideClassInfo {
 public:
  // Creates the object with one reference on its own (inner) IUnknown, counted by the server.
  // outer is the controlling unknown when the object is aggregated. Raises what the portable
  // object's construction raises; nothing is left behind then.
  static ObjectFrame* Create(ClassFactory& factory, IUnknown* outer);

  // The non-delegating IUnknown, which the creator holds.
  IUnknown* Inner() { return &inner_; }

  // IUnknown, delegating to the controlling unknown.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // IConnectionPointContainer
  HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** out) override;
  HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID iid, IConnectionPoint** out) override;

  // IObjectSafety
  HRESULT STDMETHODCALLTYPE GetInterfaceSafetyOptions(REFIID iid, DWORD* supported, DWORD* enabled) override;
  HRESULT STDMETHODCALLTYPE SetInterfaceSafetyOptions(REFIID iid, DWORD mask, DWORD enabled) override;

  // ISupportErrorInfo
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override;

  // IProvideClassInfo
  HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** out) override;

  // IDispatch, for the dual part: the type library drives names and calls.
  HRESULT GetTypeInfoCount(UINT* count);
  HRESULT GetTypeInfo(UINT index, LCID lcid, ITypeInfo** out);
  HRESULT GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids);
  HRESULT Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* excep, UINT* arg_error);

  AutomationObject& Object() { return *object_; }
  const ClassDesc& Class() const { return object_->Class(); }
  ClassFactory& Factory() { return factory_; }

 private:
  // The non-delegating IUnknown.
  class InnerUnknown final : public IUnknown {
   public:
    explicit InnerUnknown(ObjectFrame& frame) : frame_(frame) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

   private:
    ObjectFrame& frame_;
  };

  ObjectFrame(ClassFactory& factory, IUnknown* outer, std::unique_ptr<AutomationObject> object);
  ~ObjectFrame();
  bool HasInterface(REFIID iid);

  ClassFactory& factory_;
  InnerUnknown inner_{*this};
  IUnknown* controlling_;  // the outer object, or inner_
  LONG refs_ = 1;
  std::unique_ptr<AutomationObject> object_;
  DualPartPtr dual_;
  std::vector<std::unique_ptr<ConnectionPoint>> points_;  // the events point first
  std::unique_ptr<ControlPart> control_;                  // the viewer control only
  DWORD safety_options_ = 0;                              // the control's, as set
};

}  // namespace zentrak::com
