// What script cannot reach of the module: its exports, the class factories, aggregation, the
// object's platform interfaces and its connection points. Loads the module named on the command
// line, as a host does, and calls it through its exports. A second group checks pieces of the
// frame linked in directly (the message box's full-stop rule, the silencing dispatcher, values,
// the owners), and drives the vtable slots' failure guard and the events connection point with
// an object of this test alone.
#include <windows.h>
#include <objsafe.h>
#include <ocidl.h>
#include <olectl.h>

#include <cstring>
#include <functional>
#include <new>
#include <string>
#include <type_traits>
#include <vector>

#include "check.h"
#include "server/com/com_interfaces.h"
#include "server/com/com_util.h"
#include "server/com/connection_point.h"
#include "server/com/factory.h"
#include "server/com/member_call.h"
#include "server/com/variant_com.h"
#include "automation/automation_object.h"
#include "automation/convert.h"
#include "automation/dispids.h"
#include "automation/typelib.h"
#include "base/exception.h"
#include "platform/win32/handles.h"

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

// An events sink, standing for a page's handlers: it may refuse the events interface; every call
// is recorded, handed to on_call, and answered with answer (by default a failure).
class Sink final : public IDispatch {
 public:
  Sink(GUID events, bool has_events, HRESULT answer = E_FAIL)
      : events_(events), has_events_(has_events), answer_(answer) {}
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
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    ++calls;
    last_dispid = id;
    last_flags = flags;
    types.clear();
    for (UINT i = 0; params && i < params->cArgs; ++i) types.push_back(V_VT(&params->rgvarg[i]));
    if (on_call) on_call(id, *params);
    return answer_;
  }
  LONG refs = 1;
  int calls = 0;
  DISPID last_dispid = 0;
  WORD last_flags = 0;
  std::vector<VARTYPE> types;  // as passed: the last argument first
  std::function<void(DISPID, DISPPARAMS&)> on_call;

 private:
  GUID events_;
  bool has_events_;
  HRESULT answer_;
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
  // The control keeps the options its container sets; LocalDB and PrintServer report both enabled.
  struct Case {
    size_t cls;
    bool safety;
    bool kept;
  } cases[] = {{0, true, false}, {1, true, false}, {2, false, false}, {3, true, true}};
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
    CHECK_EQ(name + " enabled", enabled, c.kept ? 0ul : 3ul);
    if (c.kept) {
      // Set stores mask AND enabled; get answers it AND 3.
      const DWORD sets[][3] = {{1, 3, 1}, {3, 2, 2}, {0xFF, 0xFF, 3}, {3, 0, 0}};
      for (const auto& set : sets) {
        CHECK_HR(name + " set kept", safety->SetInterfaceSafetyOptions(IID_IDispatch, set[0], set[1]), S_OK);
        safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled);
        CHECK_EQ(name + " kept options " + std::to_string(set[0]) + "&" + std::to_string(set[1]), enabled, set[2]);
      }
    }
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
  CHECK_EQ("QUERYALL's DISPID", id, static_cast<DISPID>(zentrak::dispid::local_db::kQueryAll));
  names[0] = unknown;
  CHECK_HR("GetIDsOfNames, no member", disp->GetIDsOfNames(IID_NULL, names, 1, 0, &id), DISP_E_UNKNOWNNAME);
  CHECK_EQ("unknown name's DISPID", id, static_cast<DISPID>(DISPID_UNKNOWN));
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  VARIANT result;
  VariantInit(&result);
  GUID some = IID_IClassFactory;
  using namespace zentrak::dispid::local_db;
  CHECK_HR("Invoke with an interface id",
           disp->Invoke(kGetVersion, some, 0, DISPATCH_METHOD, &none, &result, nullptr, nullptr),
           DISP_E_UNKNOWNINTERFACE);
  CHECK_HR("Invoke, no such DISPID", disp->Invoke(299, IID_NULL, 0, DISPATCH_METHOD, &none, &result, nullptr, nullptr),
           DISP_E_MEMBERNOTFOUND);
  CHECK_HR("Invoke, missing argument",
           disp->Invoke(kQueryAll, IID_NULL, 0, DISPATCH_METHOD, &none, &result, nullptr, nullptr),
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
  // The same failure through late binding, as script sees it: the code and source in EXCEPINFO.
  EXCEPINFO excep{};
  DISPPARAMS one = {&null_arg, nullptr, 1, 0};
  CHECK_HR("Invoke queryAll(Null)",
           disp->Invoke(kQueryAll, IID_NULL, 0, DISPATCH_METHOD, &one, &result, &excep, nullptr),
           DISP_E_EXCEPTION);
  CHECK_HR("Invoke queryAll(Null): code", excep.scode, E_UNEXPECTED);
  CHECK_EQ("Invoke queryAll(Null): source", zentrak::test::Narrow(excep.bstrSource), std::string("Zentrak.LocalDB"));
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

// --- An object of this test alone ------------------------------------------------------------
//
// Probe has a hand-made class description: members that fail in each way the failure guard
// classifies, members that pass values, and an events interface with by-value and by-reference
// parameters. Nothing here depends on a member of a real object being unbuilt.

using zentrak::MemberKind;
using zentrak::ParamDirection;
using zentrak::ParamType;
using zentrak::Variant;
using zentrak::VarType;

const zentrak::Guid kProbeIid{0x5A0B0E01, 0x0001, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 1}};
const zentrak::Guid kProbeEventsIid{0x5A0B0E01, 0x0002, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 2}};
const zentrak::ParamDesc kVariantResult{"Value", ParamType::kVariant, true, ParamDirection::kOutRetval};

// Positions in the interface; each member's DISPID is its position plus 1.
enum ProbeMember { kFail, kNotYet, kExhaust, kOdd, kEcho, kBump, kFlag };
const zentrak::InterfaceDesc kProbeInterface{
    "IProbe", "", kProbeIid, true,
    {
        {1, "Fail", MemberKind::kMethod, {kVariantResult}, false},
        {2, "NotYet", MemberKind::kMethod, {kVariantResult}, false},
        {3, "Exhaust", MemberKind::kMethod, {kVariantResult}, false},
        {4, "Odd", MemberKind::kMethod, {kVariantResult}, false},
        {5, "Echo", MemberKind::kMethod, {{"In", ParamType::kVariant, false, ParamDirection::kIn}, kVariantResult}, false},
        {6, "Bump", MemberKind::kMethod, {{"Count", ParamType::kVariant, true, ParamDirection::kInOut}}, false},
        {7, "Flag", MemberKind::kPropertyGet, {{"Value", ParamType::kBoolean, true, ParamDirection::kOutRetval}}, false},
    }};

enum ProbeEvent { kOnPing = 1, kOnKey = 2, kOnPair = 3 };
const zentrak::InterfaceDesc kProbeEvents{
    "IProbeEvents", "", kProbeEventsIid, false,
    {
        {kOnPing, "OnPing", MemberKind::kMethod, {}, false},
        {kOnKey, "OnKey", MemberKind::kMethod, {{"Key", ParamType::kInt16, true, ParamDirection::kInOut}}, false},
        {kOnPair, "OnPair", MemberKind::kMethod,
         {{"Label", ParamType::kText, false, ParamDirection::kIn}, {"Value", ParamType::kVariant, true, ParamDirection::kInOut}},
         false},
    }};
const ClassDesc kProbeClass{"Probe", "Probe Object", {}, &kProbeInterface, &kProbeEvents, false, false, "TProbe"};

class Probe final : public zentrak::AutomationObject {
 public:
  Probe() : AutomationObject(kProbeClass) {}
  void Invoke(const zentrak::MemberDesc& member, std::span<Variant> args, Variant& result) override {
    switch (member.dispid) {
      case kFail + 1: throw zentrak::Exception("Probe failed");
      case kNotYet + 1: throw zentrak::ENotAvailable("Probe.NotYet");
      case kExhaust + 1: throw std::bad_alloc();
      case kOdd + 1: throw 42;  // not an exception class at all
      case kEcho + 1: result = args[0]; return;
      case kBump + 1: args[0] = Variant::FromInt32(zentrak::VarToInteger(args[0]) + 1); return;
      case kFlag + 1: result = Variant::Null(); return;  // no boolean: the slot's conversion fails
    }
  }
  void Raise(int32_t dispid, std::vector<Variant> args, std::function<void(std::span<Variant>)> done) {
    RaiseEvent(dispid, std::move(args), std::move(done));
  }
};

// The thread's error object as "source|description", and whether it names the probe's interface.
std::string ErrorText(bool* probe_interface) {
  ComPtr<IErrorInfo> error;
  if (GetErrorInfo(0, error.Put()) != S_OK || !error) return "(none)";
  zentrak::com::Bstr source, description;
  GUID guid;
  error->GetSource(source.Put());
  error->GetDescription(description.Put());
  error->GetGUID(&guid);
  *probe_interface = IsEqualGUID(guid, ToGUID(kProbeIid)) != 0;
  return zentrak::test::Narrow(source.Get()) + "|" + zentrak::test::Narrow(description.Get());
}

void SlotFailureGuard() {
  Probe probe;
  struct Case {
    ProbeMember member;
    HRESULT hr;
    const char* error;
  } cases[] = {
      {kFail, E_UNEXPECTED, "Zentrak.Probe|Probe failed"},
      {kNotYet, E_NOTIMPL, "Zentrak.Probe|Probe.NotYet is not available yet"},  // a status error's own code
      {kExhaust, E_UNEXPECTED, "Zentrak.Probe|Out of memory"},  // not a platform status error
      {kOdd, E_UNEXPECTED, "Zentrak.Probe|Unknown error"},
  };
  for (const Case& c : cases) {
    std::string name = kProbeInterface.members[c.member].name;
    SetErrorInfo(0, nullptr);
    VARIANT result;
    V_VT(&result) = VT_I4;  // whatever the caller left there
    zentrak::com::MemberCall call(probe, c.member);
    CHECK_HR(name + ": status", call.Run(&result), c.hr);
    CHECK_EQ(name + ": result left Empty", V_VT(&result), VT_EMPTY);
    bool probe_interface = false;
    CHECK_EQ(name + ": error object", ErrorText(&probe_interface), std::string(c.error));
    CHECK_EQ(name + ": error interface", probe_interface, true);
  }

  // A result that does not convert to the slot's type fails inside the guard too.
  VARIANT_BOOL flag = VARIANT_TRUE;
  zentrak::com::MemberCall flag_call(probe, kFlag);
  CHECK_HR("Flag: status", flag_call.Run(&flag), E_UNEXPECTED);
  CHECK_EQ("Flag: result reset", flag, VARIANT_FALSE);
  bool probe_interface = false;
  CHECK_EQ("Flag: error object", ErrorText(&probe_interface),
           std::string("Zentrak.Probe|Could not convert variant of type (Null) into type (Boolean)"));

  // Values in and out: a by-value argument and an in/out one the member writes.
  zentrak::com::ComVariant text, echoed;
  V_VT(&text.Value()) = VT_BSTR;
  V_BSTR(&text.Value()) = SysAllocString(L"\x4E2D text");
  zentrak::com::MemberCall echo(probe, kEcho);
  echo.In(text.Get());
  CHECK_HR("Echo: status", echo.Run(echoed.Put()), S_OK);
  CHECK_EQ("Echo: value", VarCmp(&text.Value(), &echoed.Value(), LOCALE_USER_DEFAULT, 0),
           static_cast<HRESULT>(VARCMP_EQ));
  zentrak::com::ComVariant count;
  V_VT(&count.Value()) = VT_I4;
  V_I4(&count.Value()) = 41;
  zentrak::com::MemberCall bump(probe, kBump);
  bump.InOut(&count.Value());
  CHECK_HR("Bump: status", bump.Run(), S_OK);
  CHECK_EQ("Bump: in/out written back", V_I4(&count.Get()), 42L);
  zentrak::com::MemberCall no_result(probe, kEcho);
  no_result.In(text.Get());
  CHECK_HR("Echo without result pointer", no_result.Run(static_cast<VARIANT*>(nullptr)), E_POINTER);
}

// A container with one events point of the probe's events interface, taking any number of sinks.
class ProbeContainer final : public IConnectionPointContainer {
 public:
  ProbeContainer() : point(*this, ToGUID(kProbeEventsIid), false, &kProbeEvents) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    *out = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IConnectionPointContainer)) return E_NOINTERFACE;
    *out = static_cast<IConnectionPointContainer*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs); }
  HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID, IConnectionPoint**) override { return E_NOTIMPL; }
  LONG refs = 1;
  zentrak::com::ConnectionPoint point;
};

// What the probe's handlers do: OnKey adds one to the key through its reference, OnPair keeps
// its by-value label and appends "!" to its by-reference value.
void ProbeHandler(DISPID id, DISPPARAMS& params, std::string& label) {
  if (id == kOnKey && params.cArgs == 1 && V_VT(&params.rgvarg[0]) == (VT_BYREF | VT_VARIANT)) {
    VARIANT* key = V_VARIANTREF(&params.rgvarg[0]);
    VariantChangeType(key, key, 0, VT_I2);
    V_I2(key) = static_cast<SHORT>(V_I2(key) + 1);
  }
  if (id == kOnPair && params.cArgs == 2 && V_VT(&params.rgvarg[1]) == VT_BSTR &&
      V_VT(&params.rgvarg[0]) == (VT_BYREF | VT_VARIANT)) {
    label = zentrak::test::Narrow(V_BSTR(&params.rgvarg[1]));
    VARIANT* value = V_VARIANTREF(&params.rgvarg[0]);
    std::wstring text = V_VT(value) == VT_BSTR ? std::wstring(V_BSTR(value)) : L"";
    VariantClear(value);
    V_VT(value) = VT_BSTR;
    V_BSTR(value) = SysAllocString((text + L"!").c_str());
  }
}

void Events() {
  ProbeContainer container;
  Probe probe;
  probe.SetEventSink(&container.point);
  const GUID events = ToGUID(kProbeEventsIid);
  // Two handlers that both act; the second fails, which fails nothing.
  Sink first(events, true, S_OK), failing(events, true, E_FAIL), leaving(events, true, S_OK);
  std::string label;
  first.on_call = failing.on_call = [&](DISPID id, DISPPARAMS& params) { ProbeHandler(id, params, label); };
  DWORD c1 = 0, c2 = 0;
  container.point.Advise(&first, &c1);
  container.point.Advise(&failing, &c2);

  // A by-reference argument: every handler sees what the one before left, and done gets the last.
  std::vector<Variant> after;
  int done_runs = 0;
  auto keep = [&](std::span<Variant> args) {
    ++done_runs;
    after.assign(args.begin(), args.end());
  };
  probe.Raise(kOnKey, {Variant::FromInteger(VarType::Smallint, 65)}, keep);
  CHECK_EQ("OnKey: done ran once", done_runs, 1);
  CHECK_EQ("OnKey: each handler called", first.calls + failing.calls, 2);
  CHECK_EQ("OnKey: as a method", first.last_flags, static_cast<WORD>(DISPATCH_METHOD));
  CHECK_EQ("OnKey: passed by reference", first.types.size() == 1 && first.types[0] == (VT_BYREF | VT_VARIANT), true);
  CHECK_EQ("OnKey: both handlers' changes reach done", after.size() == 1 ? zentrak::VarToInteger(after[0]) : -1, 67);

  // Arguments go last first; a by-value one is passed as its value.
  probe.Raise(kOnPair, {Variant(u"label"), Variant(u"v")}, keep);
  CHECK_EQ("OnPair: order and kinds",
           first.types.size() == 2 && first.types[0] == (VT_BYREF | VT_VARIANT) && first.types[1] == VT_BSTR, true);
  CHECK_EQ("OnPair: the by-value argument", label, std::string("label"));
  CHECK_EQ("OnPair: done", after.size() == 2 ? zentrak::VarToText(after[0]) + " " + zentrak::VarToText(after[1]) : "",
           std::string("label v!!"));

  // A handler that leaves during an event: the others still get it, and later events skip it.
  container.point.Unadvise(c2);
  DWORD c3 = 0;
  container.point.Advise(&leaving, &c3);
  leaving.on_call = [&](DISPID, DISPPARAMS&) { container.point.Unadvise(c3); };
  int before_first = first.calls;
  probe.Raise(kOnPing, {}, {});
  probe.Raise(kOnPing, {}, {});
  CHECK_EQ("leaving handler: called once", leaving.calls, 1);
  CHECK_EQ("leaving handler: others called for both", first.calls - before_first, 2);
  CHECK_EQ("leaving handler: released", leaving.refs, 1L);

  // With no handler left, done still runs, with the arguments unchanged.
  container.point.Unadvise(c1);
  done_runs = 0;
  probe.Raise(kOnKey, {Variant::FromInteger(VarType::Smallint, 65)}, keep);
  CHECK_EQ("no handler: done ran", done_runs, 1);
  CHECK_EQ("no handler: unchanged", after.size() == 1 ? zentrak::VarToInteger(after[0]) : -1, 65);
  CHECK_EQ("handlers released", first.refs + failing.refs, 2L);
  CHECK_EQ("container references balanced", container.refs, 1L);
  probe.SetEventSink(nullptr);
}

// The owners are move-only: a handle has exactly one owner.
static_assert(!std::is_copy_constructible_v<zentrak::platform::RegistryKey> &&
              std::is_nothrow_move_constructible_v<zentrak::platform::RegistryKey>);
static_assert(!std::is_copy_constructible_v<zentrak::platform::PrinterHandle> &&
              std::is_nothrow_move_assignable_v<zentrak::platform::PrinterHandle>);
static_assert(!std::is_copy_constructible_v<zentrak::com::ComVariant> &&
              std::is_nothrow_move_constructible_v<zentrak::com::ComVariant>);

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
  SlotFailureGuard();
  Events();
  int rc = zentrak::test::Finish();
  CoUninitialize();
  return rc;
}
