// What script cannot reach of the module: its exports, the class factories, aggregation, the
// object's platform interfaces and its connection points. Loads the module named on the command
// line, as a host does, and calls it through its exports. A second group checks pieces of the
// frame linked in directly (the message box's full-stop rule, the silencing dispatcher, values).
#include <windows.h>
#include <objsafe.h>
#include <ocidl.h>
#include <olectl.h>

#include <cstring>
#include <string>

#include "check.h"
#include "server/com/com_interfaces.h"
#include "server/com/com_util.h"
#include "server/com/connection_point.h"
#include "server/com/factory.h"
#include "server/com/member_call.h"
#include "server/com/variant_com.h"
#include "automation/typelib.h"

using zentrak::ClassDesc;
using zentrak::ZentrakTypeLibrary;
using zentrak::com::ComPtr;
using zentrak::com::ToGUID;

namespace {

using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
using CanUnloadFn = HRESULT(STDAPICALLTYPE*)();

GetClassObjectFn get_class_object;
CanUnloadFn can_unload_now;

const ClassDesc& Cls(size_t i) { return *ZentrakTypeLibrary().classes[i]; }
GUID Clsid(size_t i) { return ToGUID(Cls(i).clsid); }
GUID EventsIid(size_t i) { return ToGUID(Cls(i).default_source->iid); }

ComPtr<IClassFactory> Factory(size_t i) {
  ComPtr<IClassFactory> f;
  GUID clsid = Clsid(i);
  get_class_object(clsid, IID_IClassFactory, reinterpret_cast<void**>(f.Put()));
  return f;
}

template <class T>
ComPtr<T> Create(size_t i, REFIID iid) {
  ComPtr<T> out;
  if (auto f = Factory(i)) f->CreateInstance(nullptr, iid, reinterpret_cast<void**>(out.Put()));
  return out;
}

// A controlling unknown that counts its references.
class Outer final : public IUnknown {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    *out = nullptr;
    if (IsEqualIID(iid, IID_IUnknown)) {
      *out = this;
      AddRef();
      return S_OK;
    }
    return inner ? inner->QueryInterface(iid, out) : E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs); }
  LONG refs = 1;
  IUnknown* inner = nullptr;
};

// An events sink; it may refuse the events interface, and its handlers may fail.
class Sink final : public IDispatch {
 public:
  Sink(GUID events, bool has_events) : events_(events), has_events_(has_events) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    *out = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || (has_events_ && IsEqualIID(iid, events_))) {
      *out = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs); }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override {
    *n = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    last_dispid = id;
    return E_FAIL;  // a handler that fails
  }
  LONG refs = 1;
  DISPID last_dispid = 0;

 private:
  GUID events_;
  bool has_events_;
};

void ExportsAndFactories() {
  void* out = reinterpret_cast<void*>(1);
  GUID unknown = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
  CHECK_HR("DllGetClassObject, unknown class", get_class_object(unknown, IID_IClassFactory, &out),
           CLASS_E_CLASSNOTAVAILABLE);
  CHECK_EQ("DllGetClassObject, unknown class leaves null", out == nullptr, true);
  GUID clsid = Clsid(0);
  CHECK_HR("DllGetClassObject, interface no factory has", get_class_object(clsid, IID_IDispatch, &out), E_NOINTERFACE);
  CHECK_HR("DllCanUnloadNow, nothing held", can_unload_now(), S_OK);

  // Every class is served and creatable, the control included.
  for (size_t i = 0; i < 4; ++i) {
    auto object = Create<IDispatch>(i, IID_IDispatch);
    CHECK_EQ(std::string("create ") + Cls(i).name, static_cast<bool>(object), true);
  }
  CHECK_HR("DllCanUnloadNow after objects are released", can_unload_now(), S_OK);

  {
    ComPtr<IClassFactory> f = Factory(0);
    CHECK_HR("DllCanUnloadNow with a factory reference", can_unload_now(), S_FALSE);
    CHECK_HR("LockServer(TRUE)", f->LockServer(TRUE), S_OK);
    f.Reset();
    CHECK_HR("DllCanUnloadNow with a server lock", can_unload_now(), S_FALSE);
    f = Factory(0);
    CHECK_HR("LockServer(FALSE)", f->LockServer(FALSE), S_OK);
  }
  CHECK_HR("DllCanUnloadNow after unlock and release", can_unload_now(), S_OK);

  ComPtr<IClassFactory> f = Factory(0);
  CHECK_HR("CreateInstance without out pointer", f->CreateInstance(nullptr, IID_IDispatch, nullptr), E_POINTER);
  out = reinterpret_cast<void*>(1);
  CHECK_HR("CreateInstance, interface the object lacks", f->CreateInstance(nullptr, IID_IClassFactory, &out),
           E_NOINTERFACE);
  CHECK_EQ("refused CreateInstance leaves null", out == nullptr, true);
  f.Reset();
  CHECK_HR("a refused object is destroyed", can_unload_now(), S_OK);
}

void Aggregation() {
  ComPtr<IClassFactory> f = Factory(0);
  Outer outer;
  void* out = reinterpret_cast<void*>(1);
  CHECK_HR("outer object with IDispatch", f->CreateInstance(&outer, IID_IDispatch, &out), CLASS_E_NOAGGREGATION);
  CHECK_EQ("no aggregation leaves null", out == nullptr, true);
  IUnknown* inner = nullptr;
  CHECK_HR("outer object with IUnknown", f->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&inner)),
           S_OK);
  if (!inner) return;
  outer.inner = inner;
  IDispatch* disp = nullptr;
  CHECK_HR("inner answers IDispatch", inner->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&disp)), S_OK);
  CHECK_EQ("the interface counts on the outer object", outer.refs, 2);
  IUnknown* identity = nullptr;
  disp->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity));
  CHECK_EQ("the interface's identity is the outer object", identity == &outer, true);
  identity->Release();
  disp->Release();
  CHECK_EQ("outer count back", outer.refs, 1);
  inner->Release();
  f.Reset();
  CHECK_HR("aggregated object destroyed with its inner reference", can_unload_now(), S_OK);
}

void ObjectInterfaces() {
  struct Case {
    size_t cls;
    bool safety;
  } cases[] = {{0, true}, {1, true}, {2, false}, {3, false}};
  for (const Case& c : cases) {
    std::string name = Cls(c.cls).name;
    auto object = Create<IUnknown>(c.cls, IID_IUnknown);
    ComPtr<IObjectSafety> safety;
    HRESULT hr = object->QueryInterface(IID_IObjectSafety, reinterpret_cast<void**>(safety.Put()));
    CHECK_HR(name + " IObjectSafety", hr, c.safety ? S_OK : E_NOINTERFACE);
    ComPtr<ISupportErrorInfo> sei;
    object->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(sei.Put()));
    GUID dual = ToGUID(Cls(c.cls).default_interface->iid);
    CHECK_HR(name + " ISupportErrorInfo for its interface", sei->InterfaceSupportsErrorInfo(dual), S_OK);
    CHECK_HR(name + " ISupportErrorInfo for another", sei->InterfaceSupportsErrorInfo(IID_IClassFactory), S_FALSE);
    ComPtr<IProvideClassInfo> pci;
    object->QueryInterface(IID_IProvideClassInfo, reinterpret_cast<void**>(pci.Put()));
    ComPtr<ITypeInfo> info;
    CHECK_HR(name + " GetClassInfo", pci->GetClassInfo(info.Put()), S_OK);
    zentrak::com::Bstr type_name;
    info->GetDocumentation(MEMBERID_NIL, type_name.Put(), nullptr, nullptr, nullptr);
    CHECK_EQ(name + " class info name", zentrak::test::Narrow(type_name.Get()), name);
    if (!safety) continue;
    DWORD supported = 9, enabled = 9;
    CHECK_HR(name + " safety for IDispatch", safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled), S_OK);
    CHECK_EQ(name + " supported", supported, 3ul);
    CHECK_EQ(name + " enabled", enabled, 3ul);
    CHECK_HR(name + " safety for a lacking interface",
             safety->GetInterfaceSafetyOptions(IID_IClassFactory, &supported, &enabled), E_NOINTERFACE);
    CHECK_EQ(name + " lacking: supported", supported, 0ul);
    CHECK_EQ(name + " lacking: enabled", enabled, 0ul);
    CHECK_HR(name + " safety without out pointer", safety->GetInterfaceSafetyOptions(IID_IDispatch, nullptr, &enabled),
             E_POINTER);
    CHECK_HR(name + " set safety", safety->SetInterfaceSafetyOptions(IID_IDispatch, 3, 3), S_OK);
    CHECK_HR(name + " set safety, lacking", safety->SetInterfaceSafetyOptions(IID_IClassFactory, 3, 3), E_NOINTERFACE);
  }
}

void Dispatch() {
  auto disp = Create<IDispatch>(0, IID_IDispatch);
  UINT count = 0;
  disp->GetTypeInfoCount(&count);
  CHECK_EQ("type info count", count, 1u);
  ComPtr<ITypeInfo> info;
  CHECK_HR("type info 1", disp->GetTypeInfo(1, 0, info.Put()), DISP_E_BADINDEX);
  CHECK_HR("type info 0", disp->GetTypeInfo(0, 0, info.Put()), S_OK);
  // Names without regard to case; a name that is no member.
  wchar_t upper[] = L"QUERYALL", unknown[] = L"noSuchMember";
  LPOLESTR names[] = {upper};
  DISPID id = 0;
  CHECK_HR("GetIDsOfNames in capitals", disp->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
  CHECK_EQ("QUERYALL's DISPID", id, 210L);
  names[0] = unknown;
  CHECK_HR("GetIDsOfNames, no member", disp->GetIDsOfNames(IID_NULL, names, 1, 0, &id), DISP_E_UNKNOWNNAME);
  CHECK_EQ("unknown name's DISPID", id, static_cast<DISPID>(DISPID_UNKNOWN));
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  VARIANT result;
  VariantInit(&result);
  GUID some = IID_IClassFactory;
  CHECK_HR("Invoke with an interface id", disp->Invoke(201, some, 0, DISPATCH_METHOD, &none, &result, nullptr, nullptr),
           DISP_E_UNKNOWNINTERFACE);
  CHECK_HR("Invoke, no such DISPID", disp->Invoke(299, IID_NULL, 0, DISPATCH_METHOD, &none, &result, nullptr, nullptr),
           DISP_E_MEMBERNOTFOUND);
  CHECK_HR("Invoke, missing argument", disp->Invoke(210, IID_NULL, 0, DISPATCH_METHOD, &none, &result, nullptr, nullptr),
           DISP_E_BADPARAMCOUNT);
  // The vtable itself, slot by slot as the type library orders it.
  ComPtr<zentrak::com::ILocalDB> db;
  GUID iid = ToGUID(Cls(0).default_interface->iid);
  disp->QueryInterface(iid, reinterpret_cast<void**>(db.Put()));
  VARIANT v;
  VariantInit(&v);
  CHECK_HR("GetVersion through the vtable", db->GetVersion(&v), S_OK);
  CHECK_EQ("GetVersion's value", zentrak::test::Narrow(V_VT(&v) == VT_BSTR ? V_BSTR(&v) : L""), std::string("Corvel SqliteDB 0.8"));
  VariantClear(&v);
  CHECK_HR("GetVersion without result pointer", db->GetVersion(nullptr), E_POINTER);
  // A failing member: its status, and the thread's error object.
  VARIANT null_arg;
  VariantInit(&null_arg);
  V_VT(&null_arg) = VT_NULL;
  CHECK_HR("queryAll(Null)", db->queryAll(null_arg, &v), E_UNEXPECTED);
  CHECK_EQ("queryAll(Null) leaves its result Empty", V_VT(&v), VT_EMPTY);
  ComPtr<IErrorInfo> error;
  GetErrorInfo(0, error.Put());
  if (error) {
    zentrak::com::Bstr source, description;
    GUID guid;
    error->GetSource(source.Put());
    error->GetDescription(description.Put());
    error->GetGUID(&guid);
    CHECK_EQ("error source", zentrak::test::Narrow(source.Get() ? source.Get() : L""), std::string("Zentrak.LocalDB"));
    CHECK_EQ("error description", zentrak::test::Narrow(description.Get()),
             std::string("Could not convert variant of type (Null) into type (String)"));
    CHECK_EQ("error interface", IsEqualGUID(guid, iid) != 0, true);
  } else {
    CHECK_EQ("error object set", false, true);
  }
  // The control's members are not available yet.
  auto form = Create<IDispatch>(3, IID_IDispatch);
  EXCEPINFO excep{};
  CHECK_HR("control member", form->Invoke(217, IID_NULL, 0, DISPATCH_METHOD, &none, &result, &excep, nullptr),
           DISP_E_BADPARAMCOUNT);
  VARIANT doc;
  VariantInit(&doc);
  DISPPARAMS one = {&doc, nullptr, 1, 0};
  CHECK_HR("control preview", form->Invoke(217, IID_NULL, 0, DISPATCH_METHOD, &one, &result, &excep, nullptr),
           DISP_E_EXCEPTION);
  CHECK_HR("control preview's code", excep.scode, E_NOTIMPL);
  CHECK_EQ("control error source", zentrak::test::Narrow(excep.bstrSource), std::string("Zentrak.ActiveFormX_Foxit"));
  SysFreeString(excep.bstrSource);
  SysFreeString(excep.bstrDescription);
  SysFreeString(excep.bstrHelpFile);
}

void ConnectionPoints() {
  for (size_t c = 0; c < 4; ++c) {
    std::string name = Cls(c).name;
    auto object = Create<IConnectionPointContainer>(c, IID_IConnectionPointContainer);
    if (!object) {
      CHECK_EQ(name + " has a connection point container", false, true);
      continue;
    }
    ComPtr<IConnectionPoint> point;
    GUID unknown = IID_IClassFactory;
    CHECK_HR(name + " FindConnectionPoint, unknown", object->FindConnectionPoint(unknown, point.Put()),
             CONNECT_E_NOCONNECTION);
    CHECK_EQ(name + " unknown point is null", static_cast<bool>(point), false);
    CHECK_HR(name + " FindConnectionPoint, events", object->FindConnectionPoint(EventsIid(c), point.Put()), S_OK);
    if (!point) continue;

    Sink refusing(EventsIid(c), false), first(EventsIid(c), true), second(EventsIid(c), true);
    DWORD cookie = 99;
    CHECK_HR(name + " Advise, sink without the events interface", point->Advise(&refusing, &cookie), E_NOINTERFACE);
    CHECK_EQ(name + " refused sink not kept", refusing.refs, 1);
    CHECK_HR(name + " Advise", point->Advise(&first, &cookie), S_OK);
    CHECK_EQ(name + " first cookie", cookie, 1ul);
    DWORD second_cookie = 99;
    CHECK_HR(name + " second sink", point->Advise(&second, &second_cookie), CONNECT_E_CANNOTCONNECT);
    CHECK_EQ(name + " second sink not kept", second.refs, 1);
    CHECK_HR(name + " Unadvise(0)", point->Unadvise(0), CONNECT_E_NOCONNECTION);
    CHECK_HR(name + " Unadvise(2)", point->Unadvise(2), CONNECT_E_NOCONNECTION);
    ComPtr<IEnumConnections> connections;
    point->EnumConnections(connections.Put());
    CONNECTDATA data[2] = {};
    ULONG fetched = 0;
    connections->Next(2, data, &fetched);
    CHECK_EQ(name + " one connection", fetched, 1ul);
    if (fetched) {
      CHECK_EQ(name + " connection's cookie", data[0].dwCookie, 1ul);
      data[0].pUnk->Release();
    }
    connections.Reset();
    CHECK_HR(name + " Unadvise(1)", point->Unadvise(1), S_OK);
    CHECK_EQ(name + " sink released", first.refs, 1);
    CHECK_HR(name + " Unadvise(1) again", point->Unadvise(1), CONNECT_E_NOCONNECTION);
    CHECK_HR(name + " Advise after Unadvise", point->Advise(&second, &second_cookie), S_OK);
    CHECK_EQ(name + " freed slot reused", second_cookie, 1ul);
    point->Unadvise(second_cookie);

    ComPtr<IEnumConnectionPoints> points;
    object->EnumConnectionPoints(points.Put());
    IConnectionPoint* got[3] = {};
    fetched = 0;
    points->Next(3, got, &fetched);
    CHECK_EQ(name + " connection points", fetched, Cls(c).control ? 2ul : 1ul);
    for (ULONG i = 0; i < fetched; ++i) got[i]->Release();
  }
  // The control's property-change point takes any number of sinks.
  auto form = Create<IConnectionPointContainer>(3, IID_IConnectionPointContainer);
  ComPtr<IConnectionPoint> notify;
  CHECK_HR("property-change point", form->FindConnectionPoint(IID_IPropertyNotifySink, notify.Put()), S_OK);
  if (notify) {
    Sink a(IID_IPropertyNotifySink, true), b(IID_IPropertyNotifySink, true);
    DWORD ca = 0, cb = 0;
    CHECK_HR("property-change sink 1", notify->Advise(&a, &ca), S_OK);
    CHECK_HR("property-change sink 2", notify->Advise(&b, &cb), S_OK);
    CHECK_EQ("second cookie", cb, 2ul);
    notify->Unadvise(ca);
    notify->Unadvise(cb);
  }
}

// --- Pieces of the frame, linked in ----------------------------------------------------------

void FullStopRule() {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"", ""},                                        // nothing to end
      {"Disk full", "Disk full."},                     // a letter is greater than "."
      {"Done.", "Done."},                              // already ends with one
      {"Why?", "Why?."},                               // "?" (63) is greater than "." (46)
      {"(a)", "(a)"},                                  // ")" (41) is smaller
      {"end-", "end-"},                                // "-" (45) is smaller
      {"5/", "5/."},                                   // "/" (47) is greater
  };
  for (const Case& c : cases) CHECK_EQ(std::string("full stop: [") + c.in + "]", zentrak::com::WithFullStop(c.in), std::string(c.out));
  if (GetACP() == 936) {
    // A double-byte character at the end: its lead byte (0xD6) decides.
    CHECK_EQ("full stop after a double-byte character", zentrak::com::WithFullStop("\xD6\xD0"), std::string("\xD6\xD0."));
  }
}

void SilencingDispatcher() {
  GUID events = EventsIid(3);
  Sink sink(events, true);
  auto wrapper = zentrak::com::NewSilencingDispatcher(&sink, events);
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  CHECK_HR("a failing handler's call succeeds", wrapper->Invoke(202, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr), S_OK);
  CHECK_EQ("the call reached the sink", sink.last_dispid, 202L);
  IUnknown* self = nullptr;
  CHECK_HR("wrapper answers the events interface", wrapper->QueryInterface(events, reinterpret_cast<void**>(&self)), S_OK);
  CHECK_EQ("as itself", self == wrapper.Get(), true);
  self->Release();
  IUnknown* forwarded = nullptr;
  CHECK_HR("other interfaces go to the sink", wrapper->QueryInterface(IID_IClassFactory, reinterpret_cast<void**>(&forwarded)), E_NOINTERFACE);
  wrapper.Reset();
  CHECK_EQ("wrapper releases the sink", sink.refs, 1L);
}

void Values() {
  // VARIANT -> Variant -> VARIANT keeps the tags and payloads the frame hands on.
  VARIANT in, out;
  VariantInit(&in);
  VariantInit(&out);
  V_VT(&in) = VT_BSTR;
  V_BSTR(&in) = SysAllocString(L"\x4E2D\x6587 text");
  zentrak::Variant v = zentrak::com::FromVariant(in);
  CHECK_EQ("BSTR tag", static_cast<int>(v.Type()), static_cast<int>(zentrak::VarType::OleStr));
  zentrak::com::ToVariant(v, &out);
  CHECK_EQ("BSTR round trip", VarCmp(&in, &out, LOCALE_USER_DEFAULT, 0), static_cast<HRESULT>(VARCMP_EQ));
  VariantClear(&out);
  // By reference: the flag is kept and the payload read through the pointer.
  LONG n = 42;
  VARIANT ref;
  V_VT(&ref) = VT_BYREF | VT_I4;
  V_I4REF(&ref) = &n;
  zentrak::Variant r = zentrak::com::FromVariant(ref);
  CHECK_EQ("by-reference flag", r.IsByRef(), true);
  CHECK_EQ("by-reference payload", r.IntegerValue(), 42LL);
  VARIANT inner_v;
  VariantInit(&inner_v);
  V_VT(&inner_v) = VT_BOOL;
  V_BOOL(&inner_v) = VARIANT_TRUE;
  VARIANT vref;
  V_VT(&vref) = VT_BYREF | VT_VARIANT;
  V_VARIANTREF(&vref) = &inner_v;
  zentrak::Variant rv = zentrak::com::FromVariant(vref);
  CHECK_EQ("variant by reference", static_cast<int>(rv.Target().Type()), static_cast<int>(zentrak::VarType::Boolean));
  CHECK_EQ("same value: copies", zentrak::com::SameValue(v, zentrak::Variant(v)), true);
  CHECK_EQ("same value: other text", zentrak::com::SameValue(v, zentrak::Variant(u"x")), false);
  CHECK_EQ("same value: by reference differs", zentrak::com::SameValue(zentrak::Variant::FromInt32(42), r), false);
  VariantClear(&in);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::printf("usage: zentrak_com_test <Zentrak.ocx>\n");
    return 2;
  }
  CoInitialize(nullptr);
  HMODULE module = LoadLibraryA(argv[1]);
  if (!module) {
    std::printf("FAIL cannot load %s (%lu)\n", argv[1], GetLastError());
    return 1;
  }
  get_class_object = reinterpret_cast<GetClassObjectFn>(reinterpret_cast<void (*)()>(GetProcAddress(module, "DllGetClassObject")));
  can_unload_now = reinterpret_cast<CanUnloadFn>(reinterpret_cast<void (*)()>(GetProcAddress(module, "DllCanUnloadNow")));
  CHECK_EQ("exports found", get_class_object && can_unload_now, true);
  if (get_class_object && can_unload_now) {
    ExportsAndFactories();
    Aggregation();
    ObjectInterfaces();
    Dispatch();
    ConnectionPoints();
    CHECK_HR("DllCanUnloadNow at the end", can_unload_now(), S_OK);
  }
  FullStopRule();
  SilencingDispatcher();
  Values();
  int rc = zentrak::test::Finish();
  CoUninitialize();
  return rc;
}
