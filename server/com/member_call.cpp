// The vtable slots' common work.
#include "server/com/member_call.h"

#include <vector>

#include "server/com/com_util.h"
#include "server/com/failure_guard.h"
#include "server/com/variant_com.h"
#include "server/com/viewer_window.h"
#include "control/active_form.h"
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

HRESULT MemberCall::Call(Variant& result) {
  if (count_ > kMaxArguments) return E_UNEXPECTED;
  std::vector<Variant> args;
  args.reserve(count_);
  std::vector<Variant> before;  // in/out arguments as they came, in order
  for (size_t i = 0; i < count_; ++i) {
    const Arg& a = raw_[i];
    switch (a.kind) {
      case Arg::kVariant:
        args.push_back(a.variant ? FromVariant(*a.variant) : Variant());
        break;
      case Arg::kInOut:
        args.push_back(a.in_out ? FromVariant(*a.in_out) : Variant());
        if (a.in_out) before.push_back(args.back());
        break;
      case Arg::kBool:
        args.push_back(Variant::FromBool(a.boolean != VARIANT_FALSE));
        break;
      case Arg::kLong:
        args.push_back(Variant::FromInt32(a.number));
        break;
      case Arg::kText:
        args.emplace_back(a.text ? std::u16string(reinterpret_cast<const char16_t*>(a.text), SysStringLen(a.text))
                                 : std::u16string());
        break;
      case Arg::kColor:
        args.push_back(Variant::FromInteger(VarType::LongWord, a.color));
        break;
      case Arg::kFont: {
        VARIANT v;
        VariantInit(&v);
        V_VT(&v) = VT_DISPATCH;
        V_DISPATCH(&v) = a.font;  // borrowed: FromVariant takes its own reference
        args.push_back(FromVariant(v));
        break;
      }
    }
  }

  const MemberDesc& m = object_.Class().default_interface->members[index_];
  CallOutcome outcome = Invoke(object_, m.dispid, m.kind, args, result);
  if (outcome.status < 0) return Report(outcome);
  size_t changed = 0;
  for (size_t i = 0; i < count_; ++i) {
    VARIANT* target = raw_[i].kind == Arg::kInOut ? raw_[i].in_out : nullptr;
    if (!target) continue;
    if (SameValue(args[i], before[changed++])) continue;
    // The new value is made before the old one is cleared, so that a failure leaves the
    // caller's value as it was.
    ComVariant value;
    ToVariant(args[i], value.Put());
    VariantClear(target);
    *target = value.Detach();
  }
  return outcome.status;
}

template <class Store>
HRESULT MemberCall::Guard(Store&& store) noexcept {
  return ComGuard(&object_.Class(), [&] {
    Variant value;
    HRESULT hr = Call(value);
    if (SUCCEEDED(hr)) store(value);
    return hr;
  });
}

HRESULT MemberCall::Run() noexcept {
  return Guard([](const Variant&) {});
}

HRESULT MemberCall::Run(VARIANT* result) noexcept {
  if (!result) return E_POINTER;
  VariantInit(result);  // Empty, without releasing what the caller left there
  return Guard([&](const Variant& v) { ToVariant(v, result); });
}

HRESULT MemberCall::Run(VARIANT_BOOL* result) noexcept {
  if (!result) return E_POINTER;
  *result = VARIANT_FALSE;
  return Guard([&](const Variant& v) { *result = VarToBoolean(v) ? VARIANT_TRUE : VARIANT_FALSE; });
}

HRESULT MemberCall::Run(LONG* result) noexcept {
  if (!result) return E_POINTER;
  *result = 0;
  return Guard([&](const Variant& v) { *result = VarToInteger(v); });
}

HRESULT MemberCall::Run(BSTR* result) noexcept {
  if (!result) return E_POINTER;
  *result = nullptr;
  return Guard([&](const Variant& v) { *result = Bstr(VarToWideText(v)).Detach(); });
}

HRESULT MemberCall::Run(OLE_COLOR* result) noexcept {
  if (!result) return E_POINTER;
  *result = 0;
  return Guard([&](const Variant& v) { *result = static_cast<OLE_COLOR>(VarToInt64(v)); });
}

HRESULT MemberCall::Run(IFontDisp** result) noexcept {
  if (!result) return E_POINTER;
  *result = nullptr;
  return Guard([&](const Variant& v) {
    // The control's font is a portable value; the caller gets a platform font object with its
    // attributes.
    if (auto* font = dynamic_cast<const FontValue*>(v.Target().Object().get())) {
      *result = NewFontObject(font->Attributes()).Detach();
    } else if (IUnknown* object = ObjectOf(v)) {
      object->QueryInterface(IID_IFontDisp, reinterpret_cast<void**>(result));
    }
  });
}

}  // namespace zentrak::com
