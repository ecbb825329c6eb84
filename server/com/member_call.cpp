// The vtable slots' common work.
#include "server/com/member_call.h"

#include "server/com/com_util.h"
#include "server/com/object_frame.h"
#include "server/com/variant_com.h"
#include "automation/convert.h"
#include "automation/dispatch.h"

namespace zentrak::com {

bool SameValue(const Variant& a, const Variant& b) {
  if (a.Type() != b.Type() || a.IsByRef() != b.IsByRef()) return false;
  if (a.Type() == VarType::Variant) return SameValue(a.Target(), b.Target());
  const DecimalValue &da = a.Decimal(), &db = b.Decimal();
  return a.IntegerValue() == b.IntegerValue() && a.DoubleValue() == b.DoubleValue() &&
         a.WideText() == b.WideText() && a.AnsiText() == b.AnsiText() && a.Object() == b.Object() &&
         da.scale == db.scale && da.negative == db.negative && da.hi == db.hi && da.lo == db.lo;
}

void MemberCall::In(const VARIANT& value) { args_.push_back(FromVariant(value)); }

void MemberCall::In(const VARIANT* value) { args_.push_back(value ? FromVariant(*value) : Variant()); }

void MemberCall::InOut(VARIANT* value) {
  In(value);
  if (value) {
    in_out_.emplace_back(args_.size() - 1, value);
    in_out_before_.push_back(args_.back());
  }
}

void MemberCall::InBool(VARIANT_BOOL value) { args_.push_back(Variant::FromBool(value != VARIANT_FALSE)); }
void MemberCall::InLong(LONG value) { args_.push_back(Variant::FromInt32(value)); }
void MemberCall::InEnum(LONG value) { args_.push_back(Variant::FromInt32(value)); }

void MemberCall::InText(BSTR value) {
  args_.emplace_back(value ? std::u16string(reinterpret_cast<const char16_t*>(value), SysStringLen(value))
                           : std::u16string());
}

void MemberCall::InColor(OLE_COLOR value) { args_.push_back(Variant::FromInteger(VarType::LongWord, value)); }

void MemberCall::InFont(IFontDisp* value) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_DISPATCH;
  V_DISPATCH(&v) = value;  // borrowed: FromVariant takes its own reference
  args_.push_back(FromVariant(v));
}

HRESULT MemberCall::Call(Variant& result) {
  const MemberDesc& m = frame_.Class().default_interface->members[index_];
  CallOutcome outcome = Invoke(frame_.Object(), m.dispid, m.kind, args_, result);
  if (outcome.status < 0) {
    if (outcome.error) SetErrorRecord(*outcome.error);
    return outcome.status;
  }
  for (size_t i = 0; i < in_out_.size(); ++i) {
    auto [position, target] = in_out_[i];
    if (SameValue(args_[position], in_out_before_[i])) continue;
    VariantClear(target);
    ToVariant(args_[position], target);
  }
  return outcome.status;
}

HRESULT MemberCall::Run() {
  Variant ignored;
  return Call(ignored);
}

HRESULT MemberCall::Run(VARIANT* result) {
  if (!result) return E_POINTER;
  VariantInit(result);  // Empty, without releasing what the caller left there
  Variant value;
  HRESULT hr = Call(value);
  if (SUCCEEDED(hr)) ToVariant(value, result);
  return hr;
}

template <class Store>
HRESULT MemberCall::Typed(Store&& store) {
  Variant value;
  HRESULT hr = Call(value);
  if (FAILED(hr)) return hr;
  CallOutcome outcome = Guarded(frame_.Object(), [&] { store(value); });
  if (outcome.status < 0 && outcome.error) SetErrorRecord(*outcome.error);
  return outcome.status < 0 ? outcome.status : hr;
}

HRESULT MemberCall::Run(VARIANT_BOOL* result) {
  if (!result) return E_POINTER;
  *result = VARIANT_FALSE;
  return Typed([&](const Variant& v) { *result = VarToBoolean(v) ? VARIANT_TRUE : VARIANT_FALSE; });
}

HRESULT MemberCall::Run(LONG* result) {
  if (!result) return E_POINTER;
  *result = 0;
  return Typed([&](const Variant& v) { *result = VarToInteger(v); });
}

HRESULT MemberCall::Run(BSTR* result) {
  if (!result) return E_POINTER;
  *result = nullptr;
  return Typed([&](const Variant& v) { *result = Bstr(VarToWideText(v)).Detach(); });
}

HRESULT MemberCall::Run(OLE_COLOR* result) {
  if (!result) return E_POINTER;
  *result = 0;
  return Typed([&](const Variant& v) { *result = static_cast<OLE_COLOR>(VarToInt64(v)); });
}

HRESULT MemberCall::Run(IFontDisp** result) {
  if (!result) return E_POINTER;
  *result = nullptr;
  return Typed([&](const Variant& v) {
    if (IUnknown* object = ObjectOf(v)) object->QueryInterface(IID_IFontDisp, reinterpret_cast<void**>(result));
  });
}

}  // namespace zentrak::com
