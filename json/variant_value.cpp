// The value tree's automation values: VariantValue, AssignVariant and Lookup.
#include "base/text.h"
#include "json/value.h"
#include "automation/convert.h"
#include "automation/variant.h"

namespace zentrak {
namespace {

bool IsNumericKey(VarType t) {
  switch (t) {
    case VarType::Smallint:
    case VarType::Integer:
    case VarType::Single:
    case VarType::Double:
    case VarType::Currency:
    case VarType::Decimal:
    case VarType::ShortInt:
    case VarType::Byte:
    case VarType::Word:
    case VarType::LongWord:
    case VarType::Int64: return true;
    default: return false;
  }
}

}  // namespace

Variant TvxJSONbase::VariantValue() const { return Variant::Null(); }
void TvxJSONbase::AssignVariant(const Variant&) {}

TvxJSONbase* TvxJSONbase::Lookup(const Variant&) const { return const_cast<TvxJSONbase*>(this); }

Variant TvxJSONnumber::VariantValue() const {
  return Variant::FromDouble(static_cast<double>(Value()));
}
void TvxJSONnumber::AssignVariant(const Variant& value) { SetValue(VarToDouble(value)); }

Variant TvxJSONstring::VariantValue() const { return Variant(Value()); }
void TvxJSONstring::AssignVariant(const Variant& value) {
  // Wide text is taken as it is; every other kind through the text conversion.
  const Variant& v = value.Target();
  if (v.Type() == VarType::OleStr) {
    SetValue(v.WideText());
  } else {
    SetValue(VarToWideText(v));
  }
}

Variant TvxJSONboolean::VariantValue() const { return Variant::FromBool(Value()); }
void TvxJSONboolean::AssignVariant(const Variant& value) { SetValue(VarToBoolean(value)); }

Variant TvxJSONnull::VariantValue() const { return Variant::Null(); }

TvxJSONbase* TvxJSONcustomlist::Lookup(const Variant& key) const {
  const Variant& k = key.Target();
  if (IsNumericKey(k.Type())) return ItemAt(VarToInteger(k));
  return const_cast<TvxJSONcustomlist*>(this);
}

TvxJSONbase* TvxJSONobject::Lookup(const Variant& key) const {
  const Variant& k = key.Target();
  if (k.Type() == VarType::OleStr) return MemberValue(k.WideText());
  if (k.Type() == VarType::String) return MemberValue(VarToWideText(k));
  return TvxJSONcustomlist::Lookup(k);
}

}  // namespace zentrak
