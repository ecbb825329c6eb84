// TPrintOptions: the page options of printOutWithPage, given by the page as a JSON object such as
// {"PrinterRangeMode":1,"printerRangeFrom":2,"printerRangeTo":5,"numOfCopies":2}.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "json/value.h"

namespace zentrak {

class TPrintOptions {
 public:
  // Parses utf8 as JSON. Text that is not JSON leaves the options without a value, so that every
  // option takes its default; it raises nothing.
  explicit TPrintOptions(std::string_view utf8);

  // The option key (matched exactly, letter case included) as a 32-bit integer, read at the
  // moment of the call: default_value when the options have no value or no such member. A
  // value that is not an object answers for every key with itself (so the options 5 give 5
  // everywhere). The value converts by the automation rules for integer arguments: numbers
  // round half to even, true is -1, a string holding a number is that number, other text is
  // read as a boolean word ("true" 1, "false" 0).
  // Throws EVariantTypeCastError for text that is neither, for null, and for a value without a
  // scalar form (an array); EVariantOverflowError outside the 32-bit range.
  int32_t getIntOption(std::u16string_view key, int32_t default_value) const;

 private:
  std::unique_ptr<TvxJSONbase> value_;
};

}  // namespace zentrak
