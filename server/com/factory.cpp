// Class factories, their registry, and self-registration.
#include "server/com/factory.h"

#include <cstdio>

#include "base/exception.h"
#include "platform/codepage.h"
#include "platform/win32/handles.h"
#include "server/com/object_frame.h"
#include "server/com/resource.h"
#include "server/com/server.h"
#include "automation/dispatch.h"
#include "automation/status.h"

namespace zentrak::com {
namespace {

std::string ClassError(const char* format, const char* class_name) {
  char text[256];
  std::snprintf(text, sizeof text, format, class_name);
  return text;
}

std::string Ansi(const Bstr& b) { return platform::WideToAnsi(b.Text()); }

// The default (not source) and default source interfaces of a coclass.
struct DefaultInterfaces {
  ComPtr<ITypeInfo> dispatch;
  std::optional<GUID> iid, events_iid;
};

DefaultInterfaces FindDefaults(ITypeInfo* coclass) {
  DefaultInterfaces out;
  TYPEATTR* attr = nullptr;
  if (FAILED(coclass->GetTypeAttr(&attr))) return out;
  WORD count = attr->cImplTypes;
  coclass->ReleaseTypeAttr(attr);
  for (UINT i = 0; i < count; ++i) {
    INT flags = 0;
    HREFTYPE href = 0;
    ComPtr<ITypeInfo> info;
    if (FAILED(coclass->GetImplTypeFlags(i, &flags)) || !(flags & IMPLTYPEFLAG_FDEFAULT)) continue;
    if (FAILED(coclass->GetRefTypeOfImplType(i, &href)) || FAILED(coclass->GetRefTypeInfo(href, info.Put()))) continue;
    TYPEATTR* a = nullptr;
    if (FAILED(info->GetTypeAttr(&a))) continue;
    GUID guid = a->guid;
    info->ReleaseTypeAttr(a);
    if (flags & IMPLTYPEFLAG_FSOURCE) {
      out.events_iid = guid;
    } else {
      out.iid = guid;
      out.dispatch = info;
    }
  }
  return out;
}

void SetRegistryText(const RegistryEntry& entry) {
  platform::RegistryKey key;
  LONG rc = RegCreateKeyExA(HKEY_CLASSES_ROOT, entry.key.c_str(), 0, nullptr, 0,
                            KEY_READ | KEY_CREATE_SUB_KEY | KEY_SET_VALUE, nullptr, key.Put(), nullptr);
  if (rc == ERROR_SUCCESS) {
    rc = RegSetValueExA(key.Get(), entry.value_name.empty() ? nullptr : entry.value_name.c_str(), 0, REG_SZ,
                        reinterpret_cast<const BYTE*>(entry.value.c_str()), static_cast<DWORD>(entry.value.size() + 1));
  }
  if (rc != ERROR_SUCCESS) throw Exception("Error creating system registry entry");
}

std::string ShortPath(const std::string& path) {
  char buf[MAX_PATH * 2];
  DWORD n = GetShortPathNameA(path.c_str(), buf, sizeof buf);
  return (n == 0 || n >= sizeof buf) ? path : std::string(buf, n);
}

std::string FolderOf(const std::string& path) {
  size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

}  // namespace

std::string WithFullStop(std::string message) {
  if (message.empty()) return message;
  size_t last = 0;
  for (size_t i = 0; i < message.size();) {
    last = i;
    i += (IsDBCSLeadByte(static_cast<BYTE>(message[i])) && i + 1 < message.size()) ? 2 : 1;
  }
  if (static_cast<unsigned char>(message[last]) > '.') message += '.';
  return message;
}

// --- ClassFactory ----------------------------------------------------------------------------

ClassFactory::ClassFactory(const ClassDesc& cls) : cls_(cls), clsid_(ToGUID(cls.clsid)) {
  ITypeLib* library = Server::Instance().TypeLibrary();
  if (FAILED(library->GetTypeInfoOfGuid(clsid_, class_info_.Put())))
    throw Exception(ClassError("Type information missing for class %s", cls.impl_name));
  Bstr name, help, library_name;
  class_info_->GetDocumentation(MEMBERID_NIL, name.Put(), help.Put(), nullptr, nullptr);
  library->GetDocumentation(-1, library_name.Put(), nullptr, nullptr, nullptr);
  class_name_ = Ansi(name);
  description_ = Ansi(help);
  progid_ = class_name_.empty() ? std::string() : Ansi(library_name) + "." + class_name_;

  DefaultInterfaces defaults = FindDefaults(class_info_.Get());
  if (!defaults.iid) throw Exception(ClassError("Incorrect type information for class %s", cls.impl_name));
  if (!ObjectHasInterface(cls, FromGUID(*defaults.iid)))
    throw Exception(ClassError("Dispatch interface missing from class %s", cls.impl_name));
  error_iid_ = *defaults.iid;
  events_iid_ = defaults.events_iid;
  dispatch_info_ = defaults.dispatch;
  // A dual interface's vtable description is the other half of its dispatch description.
  HREFTYPE href = 0;
  if (SUCCEEDED(dispatch_info_->GetRefTypeOfImplType(static_cast<UINT>(-1), &href)))
    dispatch_info_->GetRefTypeInfo(href, interface_info_.Put());
  if (!interface_info_) interface_info_ = dispatch_info_;

  if (cls.control) {
    char verb[256] = {};
    LoadStringA(Server::Instance().Module(), ZENTRAK_IDS_PROPERTIES_VERB, verb, sizeof verb);
    control_ = ControlRegistration{kViewerMiscStatus, ZENTRAK_TOOLBOX_BITMAP_ID, {{0, verb}}};
  }
}

ClassRegistration ClassFactory::Registration() const {
  ClassRegistration r;
  r.clsid = FromGUID(clsid_);
  r.description = description_;
  r.progid = progid_;
  TLIBATTR* attr = nullptr;
  ITypeLib* library = Server::Instance().TypeLibrary();
  if (SUCCEEDED(library->GetLibAttr(&attr))) {
    r.libid = FromGUID(attr->guid);
    r.major_version = attr->wMajorVerNum;
    r.minor_version = attr->wMinorVerNum;
    library->ReleaseTLibAttr(attr);
  }
  r.control = control_;
  return r;
}

HRESULT ClassFactory::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory) || IsEqualIID(iid, IID_IClassFactory2)) {
    *out = static_cast<IClassFactory2*>(this);
    AddRef();
    return S_OK;
  }
  return E_NOINTERFACE;
}

ULONG ClassFactory::AddRef() { return static_cast<ULONG>(Server::Instance().FactoryAddRef()); }
ULONG ClassFactory::Release() { return static_cast<ULONG>(Server::Instance().FactoryRelease()); }

HRESULT ClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (outer && !IsEqualIID(iid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
  ObjectFrame* frame = nullptr;
  CallOutcome outcome = Guarded(&cls_, [&] { frame = ObjectFrame::Create(*this, outer); });
  if (outcome.status < 0) {
    if (ShowErrors() && outcome.error) {
      std::string message = WithFullStop(platform::WideToAnsi(outcome.error->description));
      MessageBoxA(nullptr, message.c_str(), "DAX Error", MB_OK | MB_ICONSTOP | MB_SETFOREGROUND);
    }
    return outcome.status;
  }
  IUnknown* inner = frame->Inner();
  HRESULT hr = inner->QueryInterface(iid, out);
  inner->Release();  // the construction reference; the object goes if the interface was refused
  return hr;
}

HRESULT ClassFactory::LockServer(BOOL lock) {
  HRESULT hr = CoLockObjectExternal(static_cast<IClassFactory2*>(this), lock, TRUE);
  if (lock) {
    Server::Instance().ObjectCreated();
  } else {
    Server::Instance().ObjectDestroyed();
  }
  return hr;
}

HRESULT ClassFactory::GetLicInfo(LICINFO* info) {
  if (!info) return E_POINTER;
  info->cbLicInfo = sizeof(LICINFO);
  info->fRuntimeKeyAvail = TRUE;
  info->fLicVerified = TRUE;
  return S_OK;
}

HRESULT ClassFactory::RequestLicKey(DWORD, BSTR* key) {
  if (!key) return E_POINTER;
  *key = nullptr;
  return E_NOTIMPL;
}

HRESULT ClassFactory::CreateInstanceLic(IUnknown* outer, IUnknown*, REFIID iid, BSTR, void** out) {
  return CreateInstance(outer, iid, out);
}

// --- FactoryRegistry -------------------------------------------------------------------------

FactoryRegistry& FactoryRegistry::Instance() {
  static FactoryRegistry* registry = new FactoryRegistry();
  return *registry;
}

bool FactoryRegistry::EnsureFactories() {
  AcquireSRWLockExclusive(&lock_);
  if (!built_) {
    built_ = true;
    CallOutcome outcome = Guarded(nullptr, [&] {
      for (const ClassDesc* cls : ZentrakTypeLibrary().classes) {
        factories_.insert(factories_.begin(), std::make_unique<ClassFactory>(*cls));
      }
    });
    if (outcome.status < 0) factories_.clear();
  }
  bool ok = !factories_.empty();
  ReleaseSRWLockExclusive(&lock_);
  return ok;
}

ClassFactory* FactoryRegistry::Find(REFCLSID clsid) {
  ClassFactory* found = nullptr;
  AcquireSRWLockShared(&lock_);
  for (auto& factory : factories_) {
    if (IsEqualCLSID(factory->Clsid(), clsid)) {
      found = factory.get();
      break;
    }
  }
  ReleaseSRWLockShared(&lock_);
  return found;
}

// --- Registration ----------------------------------------------------------------------------

HRESULT UpdateRegistry(bool register_server) {
  FactoryRegistry& registry = FactoryRegistry::Instance();
  if (!registry.EnsureFactories()) return E_FAIL;
  // Registration answers only success or E_FAIL, whatever failed.
  CallOutcome outcome = Guarded(nullptr, [&] {
    Server& server = Server::Instance();
    ITypeLib* library = server.TypeLibrary();
    const std::string path = server.ModulePath();
    if (register_server) {
      std::wstring wide_path = Wide(platform::AnsiToWide(path));
      std::wstring help_dir = Wide(platform::AnsiToWide(FolderOf(path)));
      HRESULT hr = RegisterTypeLib(library, wide_path.data(), help_dir.data());
      if (FAILED(hr)) throw EStatusError("Error registering the type library", static_cast<int32_t>(hr));
      const std::string inproc = NeedsShortPath(path) ? ShortPath(path) : path;
      registry.ForEach([&](ClassFactory& factory) {
        for (const RegistryEntry& entry : RegistrationEntries(factory.Registration(), inproc, path)) SetRegistryText(entry);
      });
    } else {
      using UnRegisterFn = HRESULT(WINAPI*)(REFGUID, WORD, WORD, LCID, SYSKIND);
      if (HMODULE oleaut = GetModuleHandleA("oleaut32.dll")) {
        auto unregister = reinterpret_cast<UnRegisterFn>(
            reinterpret_cast<void (*)()>(GetProcAddress(oleaut, "UnRegisterTypeLib")));
        TLIBATTR* attr = nullptr;
        if (unregister && SUCCEEDED(library->GetLibAttr(&attr))) {
          unregister(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid, attr->syskind);
          library->ReleaseTLibAttr(attr);
        }
      }
      registry.ForEach([&](ClassFactory& factory) {
        for (const std::string& key : UnregistrationKeys(factory.Registration())) RegDeleteKeyA(HKEY_CLASSES_ROOT, key.c_str());
      });
    }
  });
  return outcome.status < 0 ? E_FAIL : S_OK;
}

}  // namespace zentrak::com
