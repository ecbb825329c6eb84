// The four conversions through which members read their arguments: to text, to 32-bit and 64-bit
// integers and to boolean, with the conversion and overflow errors.
#pragma once

#include <cstdint>
#include <string>

#include "base/exception.h"
#include "automation/variant.h"

namespace zentrak {

// "Could not convert variant of type (%s) into type (%s)"
class EVariantTypeCastError : public Exception {
 public:
  EVariantTypeCastError(const Variant& from, const char* to);
};

// "Overflow while converting variant of type (%s) into type (%s)"
class EVariantOverflowError : public Exception {
 public:
  EVariantOverflowError(const Variant& from, const char* to);
};

// The tag name as the messages print it: "ByRef " before the name of a by-reference value.
std::string VariantTagText(const Variant& value);

// 8-bit text in the system code page.
std::string VarToText(const Variant& value);
// Wide text: the 8-bit text converted back, exactly as a member that takes text sees it.
std::u16string VarToWideText(const Variant& value);
int32_t VarToInteger(const Variant& value);
int64_t VarToInt64(const Variant& value);
bool VarToBoolean(const Variant& value);
// To a double, for the typed properties and the JSON library. Text goes through the locale.
double VarToDouble(const Variant& value);

}  // namespace zentrak
