// Portable dispatch and the failure guard.
#include "automation/dispatch.h"

#include <new>

#include "base/exception.h"
#include "platform/codepage.h"
#include "automation/convert.h"

namespace zentrak {
namespace {

bool IsPut(MemberKind k) { return k == MemberKind::kPropertyPut || k == MemberKind::kPropertyPutRef; }

// Coerces an argument to a declared type, as the platform's type-driven invocation does.
Variant Coerce(const Variant& v, ParamType type) {
  switch (type) {
    case ParamType::kVariant:
      return v;
    case ParamType::kBoolean:
      return Variant::FromBool(VarToBoolean(v));
    case ParamType::kInt16: {
      int32_t n = VarToInteger(v);
      if (n < -32768 || n > 32767) throw std::out_of_range("Int16");
      return Variant::FromInteger(VarType::Smallint, n);
    }
    case ParamType::kInt32:
    case ParamType::kBorderStyle:
    case ParamType::kPrintScale:
      return Variant::FromInt32(VarToInteger(v));
    case ParamType::kColor: {
      int64_t n = VarToInt64(v);
      if (n < INT32_MIN || n > UINT32_MAX) throw std::out_of_range("Color");
      return Variant::FromInteger(VarType::LongWord, static_cast<uint32_t>(n));
    }
    case ParamType::kText:
      return Variant(VarToWideText(v));
    case ParamType::kFont: {
      const Variant& t = v.Target();
      if (t.Type() != VarType::Dispatch && t.Type() != VarType::Unknown && t.Type() != VarType::Empty)
        throw std::invalid_argument("Font");
      return t;
    }
  }
  return v;
}

}  // namespace

int32_t GetIDsOfNames(const ClassDesc& cls, std::span<const std::string> names, std::vector<int32_t>& dispids) {
  dispids.assign(names.size(), -1);
  int32_t status = kS_OK;
  for (size_t i = 0; i < names.size(); ++i) {
    // The first name is the member; any further names would be its parameters, which script
    // never asks for by name here.
    const MemberDesc* m = i == 0 ? cls.default_interface->FindByName(names[i]) : nullptr;
    if (m) {
      dispids[i] = m->dispid;
    } else {
      status = kDISP_E_UNKNOWNNAME;
    }
  }
  return status;
}

const MemberDesc* FindMember(const ClassDesc& cls, int32_t dispid, MemberKind kind) {
  const InterfaceDesc& itf = *cls.default_interface;
  if (IsPut(kind)) {
    if (const MemberDesc* m = itf.FindByDispid(dispid, kind)) return m;
    return itf.FindByDispid(dispid, kind == MemberKind::kPropertyPut ? MemberKind::kPropertyPutRef
                                                                      : MemberKind::kPropertyPut);
  }
  return itf.FindByDispid(dispid, kind);
}

CallOutcome Invoke(AutomationObject& object, int32_t dispid, MemberKind kind, std::vector<Variant>& args,
                   Variant& result) {
  result = Variant();
  CallOutcome outcome;
  const MemberDesc* m = FindMember(object.Class(), dispid, kind);
  if (!m) {
    outcome.status = kDISP_E_MEMBERNOTFOUND;
    return outcome;
  }
  if (args.size() != m->ArgumentCount()) {
    outcome.status = kDISP_E_BADPARAMCOUNT;
    return outcome;
  }
  for (size_t i = 0; i < args.size(); ++i) {
    try {
      args[i] = Coerce(args[i], m->params[i].type);
    } catch (...) {
      outcome.status = kDISP_E_TYPEMISMATCH;
      outcome.arg_error = static_cast<uint32_t>(args.size() - 1 - i);  // the platform counts from the last
      return outcome;
    }
  }
  return Guarded(object, [&] { object.Invoke(*m, args, result); });
}

CallOutcome FailureOutcome(const AutomationObject& object, const std::exception& error) {
  CallOutcome outcome;
  outcome.status = kE_UNEXPECTED;
  ErrorRecord rec;
  rec.iid = object.Class().default_interface->iid;
  rec.source = platform::AnsiToWide(object.Class().ProgId());
  if (const auto* e = dynamic_cast<const Exception*>(&error)) {
    rec.description = platform::AnsiToWide(e->Message());
    rec.help_context = e->HelpContext();
    if (const auto* s = dynamic_cast<const EStatusError*>(&error); s && s->Code() < 0) outcome.status = s->Code();
  } else if (dynamic_cast<const std::bad_alloc*>(&error)) {
    rec.description = u"Out of memory";
  } else {
    rec.description = platform::AnsiToWide(error.what());
  }
  outcome.error = std::move(rec);
  return outcome;
}

uint32_t TypeInfoCount() { return 1; }

int32_t GetTypeInfo(const ClassDesc& cls, uint32_t index, const InterfaceDesc*& out) {
  out = nullptr;
  if (index != 0) return kDISP_E_BADINDEX;
  out = cls.default_interface;
  return kS_OK;
}

bool ObjectHasInterface(const ClassDesc& cls, const Guid& iid) {
  if (iid == kIID_IUnknown || iid == kIID_IDispatch || iid == cls.default_interface->iid) return true;
  if (cls.control) return false;  // the control's own interfaces are its frame's
  if (iid == kIID_IConnectionPointContainer || iid == kIID_ISupportErrorInfo || iid == kIID_IProvideClassInfo)
    return true;
  return cls.object_safety && iid == kIID_IObjectSafety;
}

int32_t InterfaceSupportsErrorInfo(const ClassDesc& cls, const Guid& iid) {
  return ObjectHasInterface(cls, iid) ? kS_OK : kS_FALSE;
}

int32_t GetInterfaceSafetyOptions(const ClassDesc& cls, const Guid& iid, uint32_t* supported, uint32_t* enabled) {
  if (!supported || !enabled) return kE_POINTER;
  if (!ObjectHasInterface(cls, iid)) {
    *supported = 0;
    *enabled = 0;
    return kE_NOINTERFACE;
  }
  // Safe for untrusted callers and safe for untrusted data.
  *supported = 3;
  *enabled = 3;
  return kS_OK;
}

int32_t SetInterfaceSafetyOptions(const ClassDesc& cls, const Guid& iid, uint32_t, uint32_t) {
  return ObjectHasInterface(cls, iid) ? kS_OK : kE_NOINTERFACE;
}

}  // namespace zentrak
