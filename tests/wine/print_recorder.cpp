// A test-only stand-in for the outside PDF control: an in-process automation object that writes
// every dispatch call it receives, and every call on the printer object it hands out, as one line
// to the file that ZENTRAK_RECORD_FILE names:
//   control 23 call I4:* I4:2115 BSTR:''     (the document's address is written as *)
//   printer 5 put I2:2
// Its print refuses (DISP_E_EXCEPTION, "The recorder refuses 13 copies") when 13 copies were put,
// so that a suite can follow the calls after a failure. Registered in the test prefix only.
// It is also an OLE object enough to be sited, and records how its container treats it:
//   ole SetClientSite site                (or null, when the container takes the site back)
//   ole DoVerb -5 child hidden            (the verb; its window's kind and visibility)
//   ole Close
#include <windows.h>
#include <ole2.h>
#include <oleauto.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void Record(const std::string& line) {
  const char* path = std::getenv("ZENTRAK_RECORD_FILE");
  if (!path) return;
  if (FILE* f = std::fopen(path, "ab")) {
    std::fputs((line + "\n").c_str(), f);
    std::fclose(f);
  }
}

std::string Describe(const VARIANT& v) {
  switch (v.vt) {
    case VT_I4: return "I4:" + std::to_string(v.lVal);
    case VT_I2: return "I2:" + std::to_string(v.iVal);
    case VT_BOOL: return "BOOL:" + std::to_string(v.boolVal);
    case VT_BSTR: {
      std::string text;
      for (UINT i = 0; i < SysStringLen(v.bstrVal); ++i) text += static_cast<char>(v.bstrVal[i] < 128 ? v.bstrVal[i] : '?');
      return "BSTR:'" + text + "'";
    }
    default: return "VT:" + std::to_string(v.vt);
  }
}

// The call as one line: object, DISPID, kind and the arguments in parameter order.
std::string Describe(const char* object, DISPID id, WORD flags, const DISPPARAMS* params) {
  std::string line = std::string(object) + " " + std::to_string(id) + " ";
  if (flags == DISPATCH_METHOD) {
    line += "call";
  } else if (flags == DISPATCH_PROPERTYGET) {
    line += "get";
  } else if (flags == DISPATCH_PROPERTYPUT) {
    bool named = params->cNamedArgs == 1 && params->rgdispidNamedArgs[0] == DISPID_PROPERTYPUT;
    line += named ? "put" : "put-unnamed";
  } else {
    line += "flags:" + std::to_string(flags);
  }
  for (UINT i = params->cArgs; i-- > 0;) {
    bool address = object[0] == 'c' && id == 23 && i == params->cArgs - 1;
    line += " " + (address ? std::string("I4:*") : Describe(params->rgvarg[i]));
  }
  return line;
}

class Dispatch : public IDispatch {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_IDispatch) {
      *out = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override {
    *n = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }

 protected:
  virtual ~Dispatch() = default;

 private:
  ULONG refs_ = 1;
};

class Printer : public Dispatch {
 public:
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT*,
                                   EXCEPINFO* error, UINT*) override {
    Record(Describe("printer", id, flags, params));
    if (id == 5 && params->cArgs == 1 && params->rgvarg[0].vt == VT_I2) copies_ = params->rgvarg[0].iVal;
    if ((id == 14 || id == 15) && copies_ == 13) {
      if (error) {
        *error = EXCEPINFO{};
        error->scode = E_FAIL;
        error->bstrDescription = SysAllocString(L"The recorder refuses 13 copies");
      }
      return DISP_E_EXCEPTION;
    }
    return S_OK;
  }

 private:
  int copies_ = 1;
};

// The control: the dispatch members and IOleObject, with one count of references.
class Control : public Dispatch, public IOleObject {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IOleObject) {
      *out = static_cast<IOleObject*>(this);
      AddRef();
      return S_OK;
    }
    return Dispatch::QueryInterface(iid, out);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return Dispatch::AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return Dispatch::Release(); }

  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO*, UINT*) override {
    Record(Describe("control", id, flags, params));
    if (!result) return S_OK;
    VariantInit(result);
    if (id == 6) {
      result->vt = VT_DISPATCH;
      result->pdispVal = new Printer();
    } else if (id == 15 || id == 23) {
      result->vt = VT_BOOL;
      result->boolVal = VARIANT_TRUE;
    }
    return S_OK;
  }

  // IOleObject: what a container of a control calls.
  HRESULT STDMETHODCALLTYPE SetClientSite(IOleClientSite* site) override {
    Record(std::string("ole SetClientSite ") + (site ? "site" : "null"));
    if (site) site->AddRef();
    if (site_) site_->Release();
    site_ = site;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetClientSite(IOleClientSite** site) override {
    *site = site_;
    if (site_) site_->AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE DoVerb(LONG verb, LPMSG, IOleClientSite*, LONG, HWND parent, LPCRECT) override {
    bool child = parent && (GetWindowLongPtrW(parent, GWL_STYLE) & WS_CHILD);
    Record("ole DoVerb " + std::to_string(verb) + (child ? " child" : " top") +
           (parent && IsWindowVisible(parent) ? " visible" : " hidden"));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Close(DWORD) override {
    Record("ole Close");
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetHostNames(LPCOLESTR, LPCOLESTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetMoniker(DWORD, IMoniker*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE InitFromData(IDataObject*, BOOL, DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetClipboardData(DWORD, IDataObject**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE EnumVerbs(IEnumOLEVERB**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Update() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE IsUpToDate() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetUserClassID(CLSID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetUserType(DWORD, LPOLESTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetExtent(DWORD, SIZEL*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetExtent(DWORD, SIZEL*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Advise(IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Unadvise(DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE EnumAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetMiscStatus(DWORD, DWORD* status) override {
    *status = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetColorScheme(LOGPALETTE*) override { return E_NOTIMPL; }

 private:
  ~Control() override {
    if (site_) site_->Release();
  }

  IOleClientSite* site_ = nullptr;
};

class Factory : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_IClassFactory) {
      *out = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    Control* control = new Control();
    HRESULT hr = control->QueryInterface(iid, out);
    control->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

Factory factory;

}  // namespace

extern "C" HRESULT STDMETHODCALLTYPE DllGetClassObject(REFCLSID, REFIID iid, void** out) {
  return factory.QueryInterface(iid, out);
}

extern "C" HRESULT STDMETHODCALLTYPE DllCanUnloadNow() { return S_FALSE; }
