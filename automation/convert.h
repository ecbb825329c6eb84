// The four conversions through which members read their arguments: to text, to 32-bit and 64-bit
// integers and to boolean, with the conversion and overflow errors; and the coercion of an
// argument to its declared parameter type.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/exception.h"
#include "automation/typelib.h"
#include "automation/variant.h"

namespace zentrak {

// Why a conversion gave no value, with what its error message names: the tag of the value that
// did not convert (a default value's own tag when an object's default value was read) and the
// type asked for. A conversion with kOk gave its value.
struct Conversion {
  enum Result { kOk, kTypeMismatch, kOverflow };
  Result result = kOk;
  VarType from = VarType::Empty;
  bool from_by_ref = false;
  const char* to = "";

  explicit operator bool() const noexcept { return result == kOk; }
  // Raises the error of a failed conversion: EVariantTypeCastError or EVariantOverflowError.
  // REQUIRES: the conversion failed.
  [[noreturn]] void Raise() const;
};

// "Could not convert variant of type (%s) into type (%s)"
class EVariantTypeCastError : public Exception {
 public:
  EVariantTypeCastError(const Variant& from, const char* to);
  explicit EVariantTypeCastError(const Conversion& failed);
};

// "Overflow while converting variant of type (%s) into type (%s)"
class EVariantOverflowError : public Exception {
 public:
  EVariantOverflowError(const Variant& from, const char* to);
  explicit EVariantOverflowError(const Conversion& failed);
};

// The tag name as the messages print it: "ByRef " before the name of a by-reference value.
std::string VariantTagText(const Variant& value);

// The conversions that raise: the error of the failed conversion leaves as an exception.
// 8-bit text in the system code page.
std::string VarToText(const Variant& value);
// Wide text: the 8-bit text converted back, exactly as a member that takes text sees it.
std::u16string VarToWideText(const Variant& value);
int32_t VarToInteger(const Variant& value);
int64_t VarToInt64(const Variant& value);
bool VarToBoolean(const Variant& value);
// To a double, for the typed properties and the JSON library. Text goes through the locale.
double VarToDouble(const Variant& value);

// The same conversions for callers that expect a value may not convert: a failure is returned,
// and out is then unspecified. Only an allocation failure (std::bad_alloc) or an error raised
// while reading an object's default value leaves as an exception.
Conversion TryVarToText(const Variant& value, std::string& out);
Conversion TryVarToInteger(const Variant& value, int32_t& out);
Conversion TryVarToInt64(const Variant& value, int64_t& out);
Conversion TryVarToBoolean(const Variant& value, bool& out);
Conversion TryVarToDouble(const Variant& value, double& out);

// Coerces an argument to a declared parameter type, as the platform's type-driven invocation
// does before a member runs. Empty when the value does not convert; raises only as the Try
// conversions do.
std::optional<Variant> Coerce(const Variant& value, ParamType type);

}  // namespace zentrak
