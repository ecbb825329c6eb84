// Late-bound calls: names to DISPIDs, invoke by DISPID with the put/putref rule and argument
// checks, type information, and the failure guard that turns an escaping error into a status
// code and an error record. Both frames (COM and the host) call through here.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "automation/automation_object.h"
#include "automation/status.h"
#include "automation/typelib.h"
#include "automation/variant.h"

namespace zentrak {

// What a failed member leaves for the platform's error object.
struct ErrorRecord {
  Guid iid;                     // the object's default dispatch interface
  std::u16string source;        // the programmatic name
  std::u16string description;   // the error's message
  uint32_t help_context = 0;
};

struct CallOutcome {
  int32_t status = kS_OK;              // the member's status code (0 on success)
  std::optional<ErrorRecord> error;    // set when a member failed
  uint32_t arg_error = 0;              // with kDISP_E_TYPEMISMATCH: the argument's position
};

// Names to DISPIDs, without regard to case. Unknown names answer kDISP_E_UNKNOWNNAME and -1.
int32_t GetIDsOfNames(const ClassDesc& cls, std::span<const std::string> names, std::vector<int32_t>& dispids);

// Finds the member a call reaches. A kind that contains put or putref asks for both.
// Null when the DISPID is not a member (kDISP_E_MEMBERNOTFOUND).
const MemberDesc* FindMember(const ClassDesc& cls, int32_t dispid, MemberKind kind);

// Invokes a member: checks the argument count (kDISP_E_BADPARAMCOUNT), coerces typed parameters
// (kDISP_E_TYPEMISMATCH with the position), sets the result Empty and runs the member under the
// failure guard. args are in declared order (not the platform's reversed order).
CallOutcome Invoke(AutomationObject& object, int32_t dispid, MemberKind kind, std::vector<Variant>& args,
                   Variant& result);

// The failure guard: runs work and turns any error that escapes it into a status code. Both
// frames' guards come down to this one catch. With cls, the outcome carries an error record for
// the class's default interface; without, the status alone.
template <typename Work>
CallOutcome Guarded(const ClassDesc* cls, Work&& work) noexcept;

// The classification of the error being handled: a platform status error's negative code,
// kE_UNEXPECTED for everything else, an allocation failure included ("Out of memory"); the error
// record (when cls is given) holds the message as its description. REQUIRES: called inside a
// catch handler. When the record itself cannot be built, the outcome is kE_UNEXPECTED without one.
CallOutcome CurrentFailure(const ClassDesc* cls) noexcept;

// Type information: the count is 1; index 0 gives the default interface, others kDISP_E_BADINDEX.
uint32_t TypeInfoCount();
int32_t GetTypeInfo(const ClassDesc& cls, uint32_t index, const InterfaceDesc*& out);

// The interfaces an object answers besides IUnknown.
bool ObjectHasInterface(const ClassDesc& cls, const Guid& iid);
// ISupportErrorInfo: kS_OK when the object implements iid, else kS_FALSE.
int32_t InterfaceSupportsErrorInfo(const ClassDesc& cls, const Guid& iid);
// IObjectSafety get-options; only meaningful on classes with object_safety.
int32_t GetInterfaceSafetyOptions(const ClassDesc& cls, const Guid& iid, uint32_t* supported, uint32_t* enabled);
int32_t SetInterfaceSafetyOptions(const ClassDesc& cls, const Guid& iid, uint32_t mask, uint32_t enabled);

template <typename Work>
CallOutcome Guarded(const ClassDesc* cls, Work&& work) noexcept {
  try {
    work();
    return {};
  } catch (...) {
    return CurrentFailure(cls);
  }
}

}  // namespace zentrak
