// MemberCall: what one vtable slot of a dual interface does. The slot hands over its arguments in
// declared order; Run turns them into Variants, calls the member through the portable dispatch
// (and so under its failure guard), writes back in/out arguments that the member changed, and
// stores the result in the slot's result parameter. A failure becomes the status code and the
// thread's error object.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <utility>
#include <vector>

#include "automation/variant.h"

namespace zentrak::com {

class ObjectFrame;

class MemberCall {
 public:
  // member_index: the member's position in the frame's dual interface description.
  MemberCall(ObjectFrame& frame, size_t member_index) : frame_(frame), index_(member_index) {}
  MemberCall(const MemberCall&) = delete;
  MemberCall& operator=(const MemberCall&) = delete;

  void In(const VARIANT& value);
  void In(const VARIANT* value);  // by reference: read through the pointer
  void InOut(VARIANT* value);     // the member may write it
  void InBool(VARIANT_BOOL value);
  void InLong(LONG value);
  void InEnum(LONG value);
  void InText(BSTR value);
  void InColor(OLE_COLOR value);
  void InFont(IFontDisp* value);

  // Members without a result, and members with one; a missing result pointer answers E_POINTER.
  // The result is set to its empty value before anything else happens.
  HRESULT Run();
  HRESULT Run(VARIANT* result);
  HRESULT Run(VARIANT_BOOL* result);
  HRESULT Run(LONG* result);
  HRESULT Run(BSTR* result);
  HRESULT Run(OLE_COLOR* result);
  HRESULT Run(IFontDisp** result);

 private:
  HRESULT Call(Variant& result);
  // Converts a result that arrived as a Variant into a typed slot, under the failure guard.
  template <class Store>
  HRESULT Typed(Store&& store);

  ObjectFrame& frame_;
  size_t index_;
  std::vector<Variant> args_;
  std::vector<std::pair<size_t, VARIANT*>> in_out_;  // argument position, caller's VARIANT
  std::vector<Variant> in_out_before_;
};

// True when two values have the same tag, reference flag and payload.
bool SameValue(const Variant& a, const Variant& b);

}  // namespace zentrak::com
