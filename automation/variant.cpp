// The automation value.
#include "automation/variant.h"

#include <cctype>
#include <string_view>

#include "base/ascii.h"

namespace zentrak {
namespace {

struct TagName {
  VarType type;
  const char* name;
};

constexpr TagName kTagNames[] = {
    {VarType::Empty, "Empty"},       {VarType::Null, "Null"},       {VarType::Smallint, "Smallint"},
    {VarType::Integer, "Integer"},   {VarType::Single, "Single"},   {VarType::Double, "Double"},
    {VarType::Currency, "Currency"}, {VarType::Date, "Date"},       {VarType::OleStr, "OleStr"},
    {VarType::Dispatch, "Dispatch"}, {VarType::Error, "Error"},     {VarType::Boolean, "Boolean"},
    {VarType::Variant, "Variant"},   {VarType::Unknown, "Unknown"}, {VarType::Decimal, "Decimal"},
    {VarType::ShortInt, "ShortInt"}, {VarType::Byte, "Byte"},       {VarType::Word, "Word"},
    {VarType::LongWord, "LongWord"}, {VarType::Int64, "Int64"},     {VarType::String, "String"},
    {VarType::Any, "Any"},
};

}  // namespace

const char* VarTypeName(VarType type) {
  for (const auto& t : kTagNames) {
    if (t.type == type) return t.name;
  }
  return "Unknown";
}

bool VarTypeFromName(std::string_view name, VarType& type) {
  for (const auto& t : kTagNames) {
    std::string_view n = t.name;
    if (n.size() != name.size()) continue;
    bool same = true;
    for (size_t i = 0; i < n.size() && same; ++i) {
      same = AsciiLower(n[i]) == AsciiLower(name[i]);
    }
    if (same) {
      type = t.type;
      return true;
    }
  }
  return false;
}

Variant::Variant(const Variant& other)
    : type_(other.type_),
      by_ref_(other.by_ref_),
      int_(other.int_),
      real_(other.real_),
      wide_(other.wide_),
      ansi_(other.ansi_),
      decimal_(other.decimal_),
      object_(other.object_),
      ref_(other.ref_ ? std::make_unique<Variant>(*other.ref_) : nullptr) {}

Variant& Variant::operator=(const Variant& other) {
  if (this != &other) {
    Variant copy(other);
    *this = std::move(copy);
  }
  return *this;
}

Variant Variant::FromBool(bool value) {
  Variant v;
  v.type_ = VarType::Boolean;
  v.int_ = value ? -1 : 0;
  return v;
}

Variant Variant::FromInt32(int32_t value) { return FromInteger(VarType::Integer, value); }

Variant Variant::Null() {
  Variant v;
  v.type_ = VarType::Null;
  return v;
}

Variant Variant::FromDouble(double value) {
  Variant v;
  v.type_ = VarType::Double;
  v.real_ = value;
  return v;
}

Variant Variant::FromSingle(float value) {
  Variant v;
  v.type_ = VarType::Single;
  v.real_ = value;
  return v;
}

Variant Variant::FromInt64(int64_t value) { return FromInteger(VarType::Int64, value); }

Variant Variant::FromCurrency(int64_t scaled) {
  Variant v;
  v.type_ = VarType::Currency;
  v.int_ = scaled;
  return v;
}

Variant Variant::FromDate(double days) {
  Variant v;
  v.type_ = VarType::Date;
  v.real_ = days;
  return v;
}

Variant Variant::FromAnsi(std::string text) {
  Variant v;
  v.type_ = VarType::String;
  v.ansi_ = std::move(text);
  return v;
}

Variant Variant::FromDecimal(DecimalValue value) {
  Variant v;
  v.type_ = VarType::Decimal;
  v.decimal_ = value;
  return v;
}

Variant Variant::FromError(int32_t scode) {
  Variant v;
  v.type_ = VarType::Error;
  v.int_ = scode;
  return v;
}

Variant Variant::FromObject(VarType dispatch_or_unknown, std::shared_ptr<ObjectValue> object) {
  Variant v;
  v.type_ = dispatch_or_unknown;
  v.object_ = std::move(object);
  return v;
}

Variant Variant::FromInteger(VarType tag, int64_t value) {
  Variant v;
  v.type_ = tag;
  v.int_ = value;
  return v;
}

Variant Variant::ByRefVariant(Variant target) {
  Variant v;
  v.type_ = VarType::Variant;
  v.by_ref_ = true;
  v.ref_ = std::make_unique<Variant>(std::move(target));
  return v;
}

const Variant& Variant::Target() const noexcept {
  const Variant* v = this;
  while (v->type_ == VarType::Variant && v->by_ref_ && v->ref_) v = v->ref_.get();
  return *v;
}

Variant& Variant::Target() noexcept {
  Variant* v = this;
  while (v->type_ == VarType::Variant && v->by_ref_ && v->ref_) v = v->ref_.get();
  return *v;
}

}  // namespace zentrak
