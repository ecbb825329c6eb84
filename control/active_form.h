// TActiveFormControl, the control object of ActiveFormX_Foxit, the in-page PDF viewer.
#pragma once

#include <span>

#include "automation/automation_object.h"

namespace zentrak {

class TActiveFormControl : public AutomationObject {
 public:
  TActiveFormControl();
  // The viewer's window and properties are not built yet: every member fails with a clear
  // "not available yet" error.
  void Invoke(const MemberDesc& member, std::span<Variant> args, Variant& result) override;
};

}  // namespace zentrak
