// Values of the wire: how a Variant travels as JSON, and the error of a request that cannot be
// read.
#pragma once

#include <cstdint>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "automation/variant.h"

namespace zentrak::host {

// A malformed request or value. Answered with code kE_INVALIDARG and the message.
class WireError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

constexpr int32_t kE_INVALIDARG = static_cast<int32_t>(0x80070057u);

// A value of a request as a Variant. Throws WireError for a value that has no Variant form.
Variant ValueFromJson(const nlohmann::ordered_json& value);
// A Variant as the wire carries it: text, booleans and 32-bit integers as plain JSON, the rest
// tagged.
nlohmann::ordered_json ValueToJson(const Variant& value);

}  // namespace zentrak::host
