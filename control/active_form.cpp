// ActiveFormX_Foxit: the control object.
#include "control/active_form.h"

#include "base/exception.h"

namespace zentrak {

TActiveFormControl::TActiveFormControl() : AutomationObject(ActiveFormClass()) {}

void TActiveFormControl::Invoke(const MemberDesc& member, std::span<Variant>, Variant&) {
  throw ENotAvailable(std::string("ActiveFormX_Foxit.") + member.name);
}

}  // namespace zentrak
