// TPrintOptions.
#include "print/print_options.h"

#include <string>

#include "automation/convert.h"

namespace zentrak {

TPrintOptions::TPrintOptions(std::string_view utf8) : value_(TvxJSON::ReadText(utf8)) {}

int32_t TPrintOptions::getIntOption(std::u16string_view key, int32_t default_value) const {
  if (!value_) return default_value;
  const TvxJSONbase* found = value_->Lookup(Variant(std::u16string(key)));
  if (!found) return default_value;
  return VarToInteger(found->VariantValue());
}

}  // namespace zentrak
