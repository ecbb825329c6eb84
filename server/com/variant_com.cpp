// VARIANT <-> Variant, and error objects.
#include "server/com/variant_com.h"

#include "platform/codepage.h"
#include "server/com/com_util.h"
#include "server/com/failure_guard.h"

namespace zentrak::com {
namespace {

// An object that script passed in. Its default value is read as the platform does: a property
// read of DISPID_VALUE through IDispatch.
class ComObjectValue final : public ObjectValue {
 public:
  explicit ComObjectValue(IUnknown* object) : object_(object) {}
  bool DefaultValue(Variant& out) override {
    ComPtr<IDispatch> disp;
    if (!object_ || FAILED(object_->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(disp.Put())))) return false;
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    ComVariant result;
    HRESULT hr = disp->Invoke(DISPID_VALUE, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET | DISPATCH_METHOD,
                              &none, result.Put(), nullptr, nullptr);
    if (FAILED(hr)) return false;
    out = FromVariant(result.Get());
    return true;
  }
  IUnknown* Get() const { return object_.Get(); }

 private:
  ComPtr<IUnknown> object_;
};

DecimalValue FromDECIMAL(const DECIMAL& d) {
  DecimalValue out;
  out.scale = d.scale;
  out.negative = (d.sign & DECIMAL_NEG) != 0;
  out.hi = d.Hi32;
  out.lo = d.Lo64;
  return out;
}

// The value of one VARIANT whose type is vt and whose payload is at p (the VARIANT's own union
// for a value, the referenced location for a reference).
Variant FromPayload(VARTYPE vt, const void* p) {
  auto as = [p](auto zero) { return *static_cast<const decltype(zero)*>(p); };
  switch (vt) {
    case VT_EMPTY: return Variant();
    case VT_NULL: return Variant::Null();
    case VT_I2: return Variant::FromInteger(VarType::Smallint, as(SHORT{}));
    case VT_I4: return Variant::FromInteger(VarType::Integer, as(LONG{}));
    case VT_INT: return Variant::FromInteger(VarType::Integer, as(INT{}));
    case VT_R4: return Variant::FromSingle(as(FLOAT{}));
    case VT_R8: return Variant::FromDouble(as(DOUBLE{}));
    case VT_CY: return Variant::FromCurrency(as(CY{}).int64);
    case VT_DATE: return Variant::FromDate(as(DATE{}));
    case VT_BSTR: {
      BSTR b = as(BSTR{});
      return Variant(b ? std::u16string(reinterpret_cast<const char16_t*>(b), SysStringLen(b)) : std::u16string());
    }
    case VT_DISPATCH:
    case VT_UNKNOWN: {
      IUnknown* object = vt == VT_DISPATCH ? as(static_cast<IDispatch*>(nullptr)) : as(static_cast<IUnknown*>(nullptr));
      return Variant::FromObject(vt == VT_DISPATCH ? VarType::Dispatch : VarType::Unknown,
                                 object ? std::make_shared<ComObjectValue>(object) : nullptr);
    }
    case VT_ERROR: return Variant::FromError(as(SCODE{}));
    case VT_BOOL: return Variant::FromBool(as(VARIANT_BOOL{}) != VARIANT_FALSE);
    case VT_DECIMAL: return Variant::FromDecimal(FromDECIMAL(as(DECIMAL{})));
    case VT_I1: return Variant::FromInteger(VarType::ShortInt, as(CHAR{}));
    case VT_UI1: return Variant::FromInteger(VarType::Byte, as(BYTE{}));
    case VT_UI2: return Variant::FromInteger(VarType::Word, as(USHORT{}));
    case VT_UI4: return Variant::FromInteger(VarType::LongWord, as(ULONG{}));
    case VT_UINT: return Variant::FromInteger(VarType::LongWord, as(UINT{}));
    case VT_I8: return Variant::FromInt64(as(LONGLONG{}));
    case VT_UI8: {
      ULONGLONG v = as(ULONGLONG{});
      return v <= static_cast<ULONGLONG>(INT64_MAX) ? Variant::FromInt64(static_cast<int64_t>(v))
                                                    : Variant::FromDouble(static_cast<double>(v));
    }
    default:
      // Arrays, records and the rest have no counterpart among the system's tags; they convert
      // to nothing and fail every conversion.
      return Variant::FromInteger(VarType::Any, 0);
  }
}

}  // namespace

Variant FromVariant(const VARIANT& v) {
  VARTYPE vt = V_VT(&v);
  if (vt == (VT_BYREF | VT_VARIANT)) {
    return Variant::ByRefVariant(V_VARIANTREF(&v) ? FromVariant(*V_VARIANTREF(&v)) : Variant());
  }
  if (vt & VT_BYREF) {
    if (!V_BYREF(&v)) return Variant();
    Variant value = FromPayload(static_cast<VARTYPE>(vt & ~VT_BYREF), V_BYREF(&v));
    value.SetByRef(true);
    return value;
  }
  if (vt == VT_DECIMAL) return Variant::FromDecimal(FromDECIMAL(V_DECIMAL(&v)));
  return FromPayload(vt, static_cast<const void*>(&V_I8(&v)));
}

IUnknown* ObjectOf(const Variant& value) {
  const Variant& t = value.Target();
  if (t.Type() != VarType::Dispatch && t.Type() != VarType::Unknown) return nullptr;
  auto* com = dynamic_cast<ComObjectValue*>(t.Object().get());
  return com ? com->Get() : nullptr;
}

void ToVariant(const Variant& value, VARIANT* out) {
  const Variant& v = value.Target();
  VariantInit(out);
  switch (v.Type()) {
    case VarType::Empty: break;
    case VarType::Null: V_VT(out) = VT_NULL; break;
    case VarType::Smallint: V_VT(out) = VT_I2; V_I2(out) = static_cast<SHORT>(v.IntegerValue()); break;
    case VarType::Integer: V_VT(out) = VT_I4; V_I4(out) = static_cast<LONG>(v.IntegerValue()); break;
    case VarType::Single: V_VT(out) = VT_R4; V_R4(out) = static_cast<FLOAT>(v.DoubleValue()); break;
    case VarType::Double: V_VT(out) = VT_R8; V_R8(out) = v.DoubleValue(); break;
    case VarType::Currency: V_VT(out) = VT_CY; V_CY(out).int64 = v.IntegerValue(); break;
    case VarType::Date: V_VT(out) = VT_DATE; V_DATE(out) = v.DoubleValue(); break;
    case VarType::OleStr:
      V_VT(out) = VT_BSTR;
      V_BSTR(out) = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(v.WideText().data()),
                                      static_cast<UINT>(v.WideText().size()));
      break;
    case VarType::String: {
      // In-process 8-bit text leaves as wide text.
      Variant wide(platform::AnsiToWide(v.AnsiText()));
      ToVariant(wide, out);
      break;
    }
    case VarType::Dispatch:
    case VarType::Unknown: {
      IUnknown* object = ObjectOf(v);
      V_VT(out) = v.Type() == VarType::Dispatch ? VT_DISPATCH : VT_UNKNOWN;
      V_UNKNOWN(out) = object;
      if (object) object->AddRef();
      break;
    }
    case VarType::Error: V_VT(out) = VT_ERROR; V_ERROR(out) = static_cast<SCODE>(v.IntegerValue()); break;
    case VarType::Boolean: V_VT(out) = VT_BOOL; V_BOOL(out) = v.BoolValue() ? VARIANT_TRUE : VARIANT_FALSE; break;
    case VarType::Decimal: {
      DECIMAL d{};
      d.scale = v.Decimal().scale;
      d.sign = v.Decimal().negative ? DECIMAL_NEG : 0;
      d.Hi32 = v.Decimal().hi;
      d.Lo64 = v.Decimal().lo;
      V_DECIMAL(out) = d;
      V_VT(out) = VT_DECIMAL;
      break;
    }
    case VarType::ShortInt: V_VT(out) = VT_I1; V_I1(out) = static_cast<CHAR>(v.IntegerValue()); break;
    case VarType::Byte: V_VT(out) = VT_UI1; V_UI1(out) = static_cast<BYTE>(v.IntegerValue()); break;
    case VarType::Word: V_VT(out) = VT_UI2; V_UI2(out) = static_cast<USHORT>(v.IntegerValue()); break;
    case VarType::LongWord: V_VT(out) = VT_UI4; V_UI4(out) = static_cast<ULONG>(v.IntegerValue()); break;
    case VarType::Int64: V_VT(out) = VT_I8; V_I8(out) = v.IntegerValue(); break;
    case VarType::Variant:
    case VarType::Any: break;
  }
}

bool SetErrorRecord(const ErrorRecord& record) noexcept {
  ComPtr<ICreateErrorInfo> create;
  if (FAILED(CreateErrorInfo(create.Put()))) return false;
  // BSTRs, not standard strings: making the record must not raise, since it runs while a failure
  // is being reported.
  Bstr source(record.source), description(record.description);
  create->SetGUID(ToGUID(record.iid));
  create->SetSource(source.Get());
  create->SetDescription(description.Get());
  create->SetHelpFile(nullptr);
  create->SetHelpContext(record.help_context);
  ComPtr<IErrorInfo> info;
  if (FAILED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(info.Put())))) return false;
  return SUCCEEDED(SetErrorInfo(0, info.Get()));
}

HRESULT Report(const CallOutcome& outcome) noexcept {
  if (outcome.error) SetErrorRecord(*outcome.error);
  return outcome.status;
}

}  // namespace zentrak::com
