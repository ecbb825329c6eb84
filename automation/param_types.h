// The one table of parameter types: for each declared type of the type library description, the
// variant tag an argument is coerced to, its IDL and C++ spellings in the Windows module, the
// operation through which a vtable slot hands such an argument over, and its name in the host's
// class description. Dispatch, the IDL generator and the wire all read it from here.
#pragma once

#include <cstddef>
#include <iterator>

#include "automation/typelib.h"
#include "automation/variant.h"

namespace zentrak {

struct ParamTypeInfo {
  ParamType type;
  // The tag of a coerced argument; Variant for a parameter that takes any value as it is.
  VarType tag;
  const char* idl;          // in the IDL
  const char* com;          // in a vtable slot: enumerations travel as 32-bit integers
  const char* member_call;  // the MemberCall operation of a vtable slot
  const char* wire;         // in the host's class description
};

// In ParamType's order.
inline constexpr ParamTypeInfo kParamTypes[] = {
    {ParamType::kVariant, VarType::Variant, "VARIANT", "VARIANT", "In", "variant"},
    {ParamType::kBoolean, VarType::Boolean, "VARIANT_BOOL", "VARIANT_BOOL", "InBool", "boolean"},
    {ParamType::kInt16, VarType::Smallint, "short", "short", "InLong", "int16"},
    {ParamType::kInt32, VarType::Integer, "long", "LONG", "InLong", "int32"},
    {ParamType::kText, VarType::OleStr, "BSTR", "BSTR", "InText", "text"},
    {ParamType::kColor, VarType::LongWord, "OLE_COLOR", "OLE_COLOR", "InColor", "color"},
    {ParamType::kFont, VarType::Dispatch, "IFontDisp*", "IFontDisp*", "InFont", "font"},
    {ParamType::kBorderStyle, VarType::Integer, "TxActiveFormBorderStyle", "LONG", "InEnum",
     "TxActiveFormBorderStyle"},
    {ParamType::kPrintScale, VarType::Integer, "TxPrintScale", "LONG", "InEnum", "TxPrintScale"},
};

constexpr const ParamTypeInfo& ParamTypeOf(ParamType type) { return kParamTypes[static_cast<size_t>(type)]; }

constexpr bool ParamTypesInOrder() {
  for (size_t i = 0; i < std::size(kParamTypes); ++i) {
    if (static_cast<size_t>(kParamTypes[i].type) != i) return false;
  }
  return true;
}
static_assert(ParamTypesInOrder(), "kParamTypes must list the types in ParamType's order");
static_assert(std::size(kParamTypes) == static_cast<size_t>(ParamType::kPrintScale) + 1,
              "every ParamType needs its row");

}  // namespace zentrak
