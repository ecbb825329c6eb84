// Portable dispatch and the failure guard.
#include "automation/dispatch.h"

#include <new>

#include "base/exception.h"
#include "platform/codepage.h"
#include "automation/convert.h"

namespace zentrak {
namespace {

bool IsPut(MemberKind k) { return k == MemberKind::kPropertyPut || k == MemberKind::kPropertyPutRef; }

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
  // Coercion runs inside the guard: a value that does not convert is a type mismatch, but an
  // exhausted heap (or an object's failing default value) is a failure like any other.
  std::optional<size_t> mismatch;
  outcome = Guarded(&object.Class(), [&] {
    for (size_t i = 0; i < args.size(); ++i) {
      std::optional<Variant> coerced = Coerce(args[i], m->params[i].type);
      if (!coerced) {
        mismatch = i;
        return;
      }
      args[i] = std::move(*coerced);
    }
    object.Invoke(*m, args, result);
  });
  if (mismatch) {
    outcome.status = kDISP_E_TYPEMISMATCH;
    outcome.arg_error = static_cast<uint32_t>(args.size() - 1 - *mismatch);  // the platform counts from the last
  }
  return outcome;
}

CallOutcome CurrentFailure(const ClassDesc* cls) noexcept {
  CallOutcome outcome;
  outcome.status = kE_UNEXPECTED;
  try {
    ErrorRecord rec;
    try {
      throw;
    } catch (const EStatusError& e) {
      if (e.Code() < 0) outcome.status = e.Code();
      rec.description = platform::AnsiToWide(e.Message());
      rec.help_context = e.HelpContext();
    } catch (const Exception& e) {
      rec.description = platform::AnsiToWide(e.Message());
      rec.help_context = e.HelpContext();
    } catch (const std::bad_alloc&) {
      // Not a platform status error: E_UNEXPECTED like every other error of a member.
      rec.description = u"Out of memory";
    } catch (const std::exception& e) {
      rec.description = platform::AnsiToWide(e.what());
    } catch (...) {
      rec.description = u"Unknown error";
    }
    if (cls) {
      rec.iid = cls->default_interface->iid;
      rec.source = platform::AnsiToWide(cls->ProgId());
      outcome.error = std::move(rec);
    }
  } catch (...) {
    // The record could not be built: the status alone, still E_UNEXPECTED.
    outcome.status = kE_UNEXPECTED;
    outcome.error.reset();
  }
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
