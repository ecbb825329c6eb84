// The base of the four objects' implementation classes. Each object binds its members once, by
// DISPID, in Invoke; the frames reach them only through the portable dispatch (dispatch.h).
#pragma once

#include <cstdint>
#include <span>

#include "server/typelib.h"
#include "server/variant.h"

namespace zentrak {

class AutomationObject {
 public:
  explicit AutomationObject(const ClassDesc& cls) : class_(cls) {}
  virtual ~AutomationObject() = default;
  AutomationObject(const AutomationObject&) = delete;
  AutomationObject& operator=(const AutomationObject&) = delete;

  const ClassDesc& Class() const noexcept { return class_; }

  // Runs one member. REQUIRES: member belongs to Class()'s default interface and args holds
  // exactly its arguments, in declared order, already coerced to the declared types; the
  // result (for members with one) is Empty on entry. In/out arguments may be written.
  // Errors leave as exceptions; the dispatch's failure guard turns them into status codes.
  virtual void Invoke(const MemberDesc& member, std::span<Variant> args, Variant& result) = 0;

 private:
  const ClassDesc& class_;
};

// Creates a new instance of one of the four classes.
std::unique_ptr<AutomationObject> CreateAutomationObject(const ClassDesc& cls);

}  // namespace zentrak
