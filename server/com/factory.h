// Class factories and their registry. One factory per class of the type library description,
// constructed in the description's order; the registry keeps them from the last constructed to
// the first, guarded by a multi-reader lock.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "server/com/com_util.h"
#include "automation/registration.h"
#include "automation/typelib.h"

namespace zentrak::com {

class ClassFactory final : public IClassFactory2 {
 public:
  // Reads the class's entry of the module's type library. Raises "Type information missing for
  // class %s", "Incorrect type information for class %s" or "Dispatch interface missing from
  // class %s" (with the implementation class's name) when it does not fit the description.
  explicit ClassFactory(const ClassDesc& cls);

  // IUnknown: references count on the server's factory count; a factory is never destroyed by a
  // release.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  // IClassFactory
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override;
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;
  // IClassFactory2: the classes need no licence.
  HRESULT STDMETHODCALLTYPE GetLicInfo(LICINFO* info) override;
  HRESULT STDMETHODCALLTYPE RequestLicKey(DWORD reserved, BSTR* key) override;
  HRESULT STDMETHODCALLTYPE CreateInstanceLic(IUnknown* outer, IUnknown* reserved, REFIID iid, BSTR key,
                                              void** out) override;

  const ClassDesc& Class() const { return cls_; }
  const GUID& Clsid() const { return clsid_; }
  const std::string& ClassName() const { return class_name_; }
  const std::string& Description() const { return description_; }
  const std::string& ProgId() const { return progid_; }
  const GUID& ErrorIid() const { return error_iid_; }
  const std::optional<GUID>& EventsIid() const { return events_iid_; }
  bool ShowErrors() const { return true; }
  // The coclass's type description, its default interface's dispatch description and the
  // interface (vtable) description that drives invocation.
  ITypeInfo* ClassInfo() const { return class_info_.Get(); }
  ITypeInfo* DispatchInfo() const { return dispatch_info_.Get(); }
  ITypeInfo* InterfaceInfo() const { return interface_info_.Get(); }
  // The control's fields; empty for the three other classes.
  const std::optional<ControlRegistration>& Control() const { return control_; }

  // What registration writes for this factory.
  ClassRegistration Registration() const;

 private:
  const ClassDesc& cls_;
  GUID clsid_;
  std::string class_name_, description_, progid_;
  GUID error_iid_{};
  std::optional<GUID> events_iid_;
  ComPtr<ITypeInfo> class_info_, dispatch_info_, interface_info_;
  std::optional<ControlRegistration> control_;
};

class FactoryRegistry {
 public:
  static FactoryRegistry& Instance();

  // Constructs the four factories in the description's order the first time; later calls do
  // nothing. Returns false (and keeps no factory) when a construction raised.
  bool EnsureFactories();
  // The factory of a class GUID, or null (shared lock).
  ClassFactory* Find(REFCLSID clsid);
  // Every factory from the head of the list (the last constructed) under the exclusive lock.
  template <class F>
  void ForEach(F&& f) {
    struct Exclusive {
      SRWLOCK* lock;
      ~Exclusive() { ReleaseSRWLockExclusive(lock); }
    } guard{&lock_};
    AcquireSRWLockExclusive(&lock_);
    for (auto& factory : factories_) f(*factory);
  }

 private:
  SRWLOCK lock_ = SRWLOCK_INIT;
  bool built_ = false;
  std::vector<std::unique_ptr<ClassFactory>> factories_;  // head first
};

// Writes (register) or removes the registry entries of the type library and every factory.
// S_OK, or E_FAIL when registering raised an error.
HRESULT UpdateRegistry(bool register_server);

// The full stop rule of the error message box: the message gets a "." when it is not empty and
// its last character (the lead byte of a double-byte character) compares greater than ".".
std::string WithFullStop(std::string message);

}  // namespace zentrak::com
