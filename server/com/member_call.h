// MemberCall: what one vtable slot of a dual interface does. The slot hands over its arguments in
// declared order, as they arrived; Run converts them to Variants, calls the member through the
// portable dispatch, writes back in/out arguments that the member changed, and stores the result
// in the slot's result parameter. All of that runs inside the failure guard: a failure, a
// failed conversion or an exhausted heap included, becomes the status code and the thread's
// error object.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <array>
#include <cstddef>

#include "automation/automation_object.h"
#include "automation/variant.h"

namespace zentrak::com {

class MemberCall {
 public:
  // The most arguments a member takes; the generated slots check their members against it.
  static constexpr size_t kMaxArguments = 8;

  // member_index: the member's position in the object's dual interface description.
  MemberCall(AutomationObject& object, size_t member_index) noexcept : object_(object), index_(member_index) {}
  MemberCall(const MemberCall&) = delete;
  MemberCall& operator=(const MemberCall&) = delete;

  // The arguments are only recorded here; they must stay valid until Run returns.
  void In(const VARIANT& value) noexcept { Add(Arg::kVariant).variant = &value; }
  void In(const VARIANT* value) noexcept { Add(Arg::kVariant).variant = value; }  // null reads as Empty
  void InOut(VARIANT* value) noexcept { Add(Arg::kInOut).in_out = value; }        // the member may write it
  void InBool(VARIANT_BOOL value) noexcept { Add(Arg::kBool).boolean = value; }
  void InLong(LONG value) noexcept { Add(Arg::kLong).number = value; }
  void InEnum(LONG value) noexcept { Add(Arg::kLong).number = value; }
  void InText(BSTR value) noexcept { Add(Arg::kText).text = value; }
  void InColor(OLE_COLOR value) noexcept { Add(Arg::kColor).color = value; }
  void InFont(IFontDisp* value) noexcept { Add(Arg::kFont).font = value; }

  // Members without a result, and members with one; a missing result pointer answers E_POINTER.
  // The result is set to its empty value before anything else happens.
  HRESULT Run() noexcept;
  HRESULT Run(VARIANT* result) noexcept;
  HRESULT Run(VARIANT_BOOL* result) noexcept;
  HRESULT Run(LONG* result) noexcept;
  HRESULT Run(BSTR* result) noexcept;
  HRESULT Run(OLE_COLOR* result) noexcept;
  HRESULT Run(IFontDisp** result) noexcept;

 private:
  struct Arg {
    enum Kind { kVariant, kInOut, kBool, kLong, kText, kColor, kFont } kind;
    union {
      const VARIANT* variant;
      VARIANT* in_out;
      VARIANT_BOOL boolean;
      LONG number;
      BSTR text;
      OLE_COLOR color;
      IFontDisp* font;
    };
  };

  Arg& Add(Arg::Kind kind) noexcept {
    // An argument past the limit is counted but not kept; Run then refuses the call.
    Arg& a = raw_[count_ < kMaxArguments ? count_ : kMaxArguments - 1];
    ++count_;
    a.kind = kind;
    return a;
  }
  // Converts the arguments, runs the member and writes back changed in/out arguments. Raises
  // what a conversion raises; a member's failure is returned as its status, reported.
  HRESULT Call(Variant& result);
  // Runs the member and hands its result to store, all under the failure guard.
  template <class Store>
  HRESULT Guard(Store&& store) noexcept;

  AutomationObject& object_;
  size_t index_;
  std::array<Arg, kMaxArguments> raw_{};
  size_t count_ = 0;
};

// True when two values have the same tag, reference flag and payload.
bool SameValue(const Variant& a, const Variant& b);

}  // namespace zentrak::com
