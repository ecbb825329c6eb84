// Dispatch against a test-only class: names, the put/putref rule, argument checks and coercion,
// the failure guard's status codes and error records, and the interfaces an object answers. The
// class is described here, so none of this depends on what the real objects have built.
#include "automation/dispatch.h"

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "automation/convert.h"
#include "base/exception.h"
#include "platform/codepage.h"

namespace zentrak {
namespace {

constexpr auto kMethod = MemberKind::kMethod;
constexpr auto kGet = MemberKind::kPropertyGet;
constexpr auto kPut = MemberKind::kPropertyPut;
constexpr auto kPutRef = MemberKind::kPropertyPutRef;

ParamDesc In(const char* name, ParamType type) { return {name, type, false, ParamDirection::kIn}; }
ParamDesc Ret(ParamType type = ParamType::kVariant) { return {"Value", type, true, ParamDirection::kOutRetval}; }

// What Raise(how) throws.
enum How : int32_t {
  kNothing,
  kSystemError,       // Exception
  kStatusNegative,    // EStatusError with a negative code
  kStatusPositive,    // EStatusError with a positive code
  kNotAvailable,      // ENotAvailable
  kOutOfMemory,       // std::bad_alloc
  kStandardError,     // std::runtime_error
  kForeignThrow,      // an int
  kHelpContext,       // EStatusError with a help context
  kCodePageText,      // Exception with a non-ASCII message in the system code page
};

const InterfaceDesc& ProbeInterface() {
  static const InterfaceDesc itf{
      "IProbe",
      "Dispatch interface for a test object",
      *Guid::Parse("0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0"),
      true,
      {
          {1, "Raise", kMethod, {In("How", ParamType::kInt32)}, false},
          {2, "Describe", kMethod, {In("Value", ParamType::kVariant), Ret()}, false},
          {3, "Pair", kMethod, {In("Wide", ParamType::kInt32), In("Narrow", ParamType::kInt16), Ret()}, false},
          {4, "Size", kGet, {Ret(ParamType::kInt16)}, false},
          {4, "Size", kPut, {In("", ParamType::kInt16)}, false},
          {5, "Picture", kGet, {Ret()}, false},
          {5, "Picture", kPut, {In("", ParamType::kVariant)}, false},
          {5, "Picture", kPutRef, {In("", ParamType::kVariant)}, false},
          {6, "Caption", kPut, {In("", ParamType::kText)}, false},
          {7, "Color", kPut, {In("", ParamType::kColor)}, false},
          {8, "Enabled", kPut, {In("", ParamType::kBoolean)}, false},
      },
  };
  return itf;
}

const ClassDesc& Probe() {
  static const ClassDesc cls{"Probe", "Probe Object", *Guid::Parse("11111111-2222-3333-4444-000000000001"),
                             &ProbeInterface(), nullptr, false, true, "TProbe"};
  return cls;
}
const ClassDesc& UnsafeProbe() {
  static const ClassDesc cls{"UnsafeProbe", "Probe Object", *Guid::Parse("11111111-2222-3333-4444-000000000002"),
                             &ProbeInterface(), nullptr, false, false, "TProbe"};
  return cls;
}
const ClassDesc& ControlProbe() {
  static const ClassDesc cls{"ControlProbe", "Probe Control", *Guid::Parse("11111111-2222-3333-4444-000000000003"),
                             &ProbeInterface(), nullptr, true, true, "TProbe"};
  return cls;
}

// Records what reached it, and fails on request.
class TProbe : public AutomationObject {
 public:
  explicit TProbe(const ClassDesc& cls = Probe()) : AutomationObject(cls) {}

  void Invoke(const MemberDesc& member, std::span<Variant> args, Variant& result) override {
    calls.push_back(member.kind == kPutRef ? "putref " + std::string(member.name)
                    : member.kind == kPut  ? "put " + std::string(member.name)
                                           : std::string(member.name));
    received.assign(args.begin(), args.end());
    result_on_entry_empty = result.IsEmpty();
    if (member.dispid == 1) Raise(static_cast<int32_t>(args[0].IntegerValue()));
    if (member.dispid == 2) result = Variant(VarToWideText(args[0]));
    if (member.dispid == 3 || member.dispid == 4) result = Variant::FromInt32(7);
  }

  std::vector<std::string> calls;
  std::vector<Variant> received;
  bool result_on_entry_empty = false;

 private:
  static void Raise(int32_t how) {
    switch (how) {
      case kSystemError:
        throw Exception("The probe failed");
      case kStatusNegative:
        throw EStatusError("The platform said no", Status(0x80070005));
      case kStatusPositive:
        throw EStatusError("A positive code is no failure code", 5);
      case kNotAvailable:
        throw ENotAvailable("Probe.Raise");
      case kOutOfMemory:
        throw std::bad_alloc();
      case kStandardError:
        throw std::runtime_error("from the C++ library");
      case kForeignThrow:
        throw 42;
      case kHelpContext:
        throw EStatusError("With help", kE_FAIL, 4711);
      case kCodePageText:
        throw Exception(platform::WideToAnsi(u"\u4E2D\u6587 failed"));
    }
  }
};

std::vector<Variant> Args(std::initializer_list<Variant> list) { return std::vector<Variant>(list); }

TEST(Dispatch, NamesToDispids) {
  const struct {
    std::vector<std::string> names;
    int32_t status;
    std::vector<int32_t> ids;
  } cases[] = {
      {{"Raise"}, kS_OK, {1}},
      {{"RAISE"}, kS_OK, {1}},
      {{"pair"}, kS_OK, {3}},
      {{"Picture"}, kS_OK, {5}},  // one DISPID for the get, the put and the putref
      {{"Rais"}, kDISP_E_UNKNOWNNAME, {-1}},
      {{""}, kDISP_E_UNKNOWNNAME, {-1}},
      // Parameters are never named: the member is found, the parameter is not.
      {{"Pair", "Wide"}, kDISP_E_UNKNOWNNAME, {3, -1}},
      {{}, kS_OK, {}},
  };
  for (const auto& c : cases) {
    std::vector<int32_t> ids{99, 99, 99};
    EXPECT_EQ(GetIDsOfNames(Probe(), c.names, ids), c.status) << testing::PrintToString(c.names);
    EXPECT_EQ(ids, c.ids) << testing::PrintToString(c.names);
  }
}

// A put reaches a putref member when the DISPID has no put, and the other way round.
TEST(Dispatch, PutAndPutRefReachEitherWriteMember) {
  const struct {
    int32_t dispid;
    MemberKind asked;
    bool found;
    MemberKind reached;
  } cases[] = {
      {5, kPut, true, kPut},       {5, kPutRef, true, kPutRef}, {5, kGet, true, kGet},
      {6, kPut, true, kPut},       {6, kPutRef, true, kPut},    {6, kGet, false, kGet},
      {4, kMethod, false, kGet},   {1, kPut, false, kGet},      {1, kGet, false, kGet},
      {99, kMethod, false, kGet},
  };
  for (const auto& c : cases) {
    const MemberDesc* m = FindMember(Probe(), c.dispid, c.asked);
    ASSERT_EQ(m != nullptr, c.found) << c.dispid << " " << static_cast<int>(c.asked);
    if (m) {
      EXPECT_EQ(m->kind, c.reached) << c.dispid << " " << static_cast<int>(c.asked);
    }
  }
}

// Status codes a call answers before the member runs; the member is then not called.
TEST(Dispatch, CallsRefusedBeforeTheMemberRuns) {
  const struct {
    const char* what;
    int32_t dispid;
    MemberKind kind;
    std::vector<Variant> args;
    int32_t status;
    uint32_t arg_error;  // meaningful with kDISP_E_TYPEMISMATCH
  } cases[] = {
      {"unknown DISPID", 99, kMethod, {}, kDISP_E_MEMBERNOTFOUND, 0},
      {"a method called as a put", 1, kPut, Args({Variant::FromInt32(0)}), kDISP_E_MEMBERNOTFOUND, 0},
      {"a get-only DISPID called as a method", 4, kMethod, {}, kDISP_E_MEMBERNOTFOUND, 0},
      {"too few", 1, kMethod, {}, kDISP_E_BADPARAMCOUNT, 0},
      {"too many", 1, kMethod, Args({Variant::FromInt32(0), Variant()}), kDISP_E_BADPARAMCOUNT, 0},
      {"the result counted as an argument", 2, kMethod, Args({Variant(), Variant()}), kDISP_E_BADPARAMCOUNT, 0},
      // The position counts from the last argument, as the platform passes them.
      {"first of two", 3, kMethod, Args({Variant(u"x"), Variant::FromInt32(1)}), kDISP_E_TYPEMISMATCH, 1},
      {"second of two", 3, kMethod, Args({Variant::FromInt32(1), Variant(u"x")}), kDISP_E_TYPEMISMATCH, 0},
      {"Int16 above its range", 4, kPut, Args({Variant::FromInt32(32768)}), kDISP_E_TYPEMISMATCH, 0},
      {"Int16 below its range", 4, kPut, Args({Variant::FromInt32(-32769)}), kDISP_E_TYPEMISMATCH, 0},
      {"text for a number", 4, kPut, Args({Variant(u"not a number")}), kDISP_E_TYPEMISMATCH, 0},
      {"colour above 32 bits", 7, kPut, Args({Variant::FromInt64(4294967296)}), kDISP_E_TYPEMISMATCH, 0},
      {"Null for text", 6, kPut, Args({Variant::Null()}), kDISP_E_TYPEMISMATCH, 0},
  };
  for (const auto& c : cases) {
    TProbe probe;
    std::vector<Variant> args = c.args;
    Variant result(u"left by the caller");
    CallOutcome out = Invoke(probe, c.dispid, c.kind, args, result);
    EXPECT_EQ(out.status, c.status) << c.what;
    if (c.status == kDISP_E_TYPEMISMATCH) {
      EXPECT_EQ(out.arg_error, c.arg_error) << c.what;
    }
    EXPECT_FALSE(out.error) << c.what;
    EXPECT_TRUE(probe.calls.empty()) << c.what;
    EXPECT_TRUE(result.IsEmpty()) << c.what;
  }
}

// Typed parameters reach the member coerced to their declared type.
TEST(Dispatch, ArgumentsArriveCoerced) {
  const struct {
    int32_t dispid;
    MemberKind kind;
    Variant arg;
    VarType type;
    int64_t number;  // for the number types
  } cases[] = {
      {4, kPut, Variant(u"12"), VarType::Smallint, 12},
      {4, kPut, Variant::FromInt32(32767), VarType::Smallint, 32767},
      {4, kPut, Variant::FromInt32(-32768), VarType::Smallint, -32768},
      {7, kPut, Variant::FromInt32(-1), VarType::LongWord, 4294967295},
      {7, kPut, Variant::FromInt64(4294967295), VarType::LongWord, 4294967295},
      {8, kPut, Variant::FromInt32(2), VarType::Boolean, 0},
      {6, kPut, Variant::FromInt32(5), VarType::OleStr, 0},
      {5, kPutRef, Variant::Null(), VarType::Null, 0},  // a Variant parameter is passed as it is
  };
  for (const auto& c : cases) {
    TProbe probe;
    std::vector<Variant> args{c.arg};
    Variant result;
    ASSERT_EQ(Invoke(probe, c.dispid, c.kind, args, result).status, kS_OK) << c.dispid;
    ASSERT_EQ(probe.received.size(), 1u);
    const Variant& got = probe.received[0];
    EXPECT_EQ(got.Type(), c.type) << c.dispid;
    if (c.type == VarType::Smallint || c.type == VarType::LongWord) {
      EXPECT_EQ(VarToInt64(got), c.number) << c.dispid;
    }
  }
  TProbe probe;
  std::vector<Variant> args{Variant::FromInt32(5)};
  Variant result;
  Invoke(probe, 6, kPut, args, result);
  EXPECT_EQ(probe.received[0].WideText(), u"5");
  args = {Variant::FromInt32(2)};
  Invoke(probe, 8, kPut, args, result);
  EXPECT_TRUE(probe.received[0].BoolValue());
}

TEST(Dispatch, SuccessfulCallsRunTheMemberOnAnEmptyResult) {
  TProbe probe;
  std::vector<Variant> args{Variant::FromInt32(3), Variant::FromInt32(4)};
  Variant result(u"left by the caller");
  CallOutcome out = Invoke(probe, 3, kMethod, args, result);
  EXPECT_EQ(out.status, kS_OK);
  EXPECT_FALSE(out.error);
  EXPECT_TRUE(probe.result_on_entry_empty);
  EXPECT_EQ(result.IntegerValue(), 7);
  args.clear();
  EXPECT_EQ(Invoke(probe, 4, kGet, args, result).status, kS_OK);
  args = {Variant(u"p")};
  EXPECT_EQ(Invoke(probe, 5, kPutRef, args, result).status, kS_OK);
  EXPECT_EQ(probe.calls, (std::vector<std::string>{"Pair", "Size", "putref Picture"}));
}

// Whatever escapes a member becomes a status code and an error record naming the object.
TEST(FailureGuard, StatusCodesAndErrorRecords) {
  const struct {
    How how;
    int32_t status;
    std::u16string description;
    uint32_t help_context;
  } cases[] = {
      {kSystemError, kE_UNEXPECTED, u"The probe failed", 0},
      {kStatusNegative, Status(0x80070005), u"The platform said no", 0},
      {kStatusPositive, kE_UNEXPECTED, u"A positive code is no failure code", 0},
      {kNotAvailable, kE_NOTIMPL, u"Probe.Raise is not available yet", 0},
      {kOutOfMemory, kE_UNEXPECTED, u"Out of memory", 0},
      {kStandardError, kE_UNEXPECTED, u"from the C++ library", 0},
      {kForeignThrow, kE_UNEXPECTED, u"Unknown error", 0},
      {kHelpContext, kE_FAIL, u"With help", 4711},
      {kCodePageText, kE_UNEXPECTED, u"\u4E2D\u6587 failed", 0},  // held by both test code pages
  };
  EXPECT_EQ(kE_UNEXPECTED, -2147418113);
  EXPECT_EQ(kE_NOTIMPL, -2147467263);
  for (const auto& c : cases) {
    TProbe probe;
    std::vector<Variant> args{Variant::FromInt32(c.how)};
    Variant result;
    CallOutcome out = Invoke(probe, 1, kMethod, args, result);
    EXPECT_EQ(out.status, c.status) << c.how;
    ASSERT_TRUE(out.error) << c.how;
    EXPECT_EQ(out.error->description, c.description) << c.how;
    EXPECT_EQ(out.error->source, u"Zentrak.Probe") << c.how;
    EXPECT_EQ(out.error->iid, ProbeInterface().iid) << c.how;
    EXPECT_EQ(out.error->help_context, c.help_context) << c.how;
  }
  TProbe probe;
  std::vector<Variant> args{Variant::FromInt32(kNothing)};
  Variant result;
  CallOutcome ok = Invoke(probe, 1, kMethod, args, result);
  EXPECT_EQ(ok.status, kS_OK);
  EXPECT_FALSE(ok.error);
}

// A conversion inside a member fails through the guard, not as a type mismatch; the result the
// caller passed in is Empty afterwards.
TEST(FailureGuard, ConversionInsideAMember) {
  TProbe probe;
  std::vector<Variant> args{Variant::Null()};
  Variant result(u"left by the caller");
  CallOutcome out = Invoke(probe, 2, kMethod, args, result);
  EXPECT_EQ(out.status, kE_UNEXPECTED);
  ASSERT_TRUE(out.error);
  EXPECT_EQ(out.error->description, u"Could not convert variant of type (Null) into type (String)");
  EXPECT_EQ(probe.calls, std::vector<std::string>{"Describe"});
  EXPECT_TRUE(result.IsEmpty());
}

TEST(Interfaces, WhatAnObjectAnswers) {
  const Guid other = *Guid::Parse("{11111111-2222-3333-4444-555555555555}");
  const struct {
    const ClassDesc* cls;
    const char* name;
    Guid iid;
    bool answers;
  } cases[] = {
      {&Probe(), "IUnknown", kIID_IUnknown, true},
      {&Probe(), "IDispatch", kIID_IDispatch, true},
      {&Probe(), "own", ProbeInterface().iid, true},
      {&Probe(), "IConnectionPointContainer", kIID_IConnectionPointContainer, true},
      {&Probe(), "ISupportErrorInfo", kIID_ISupportErrorInfo, true},
      {&Probe(), "IProvideClassInfo", kIID_IProvideClassInfo, true},
      {&Probe(), "IObjectSafety", kIID_IObjectSafety, true},
      {&Probe(), "other", other, false},
      {&UnsafeProbe(), "IObjectSafety", kIID_IObjectSafety, false},
      {&UnsafeProbe(), "ISupportErrorInfo", kIID_ISupportErrorInfo, true},
      // A control's other interfaces are its frame's.
      {&ControlProbe(), "own", ProbeInterface().iid, true},
      {&ControlProbe(), "IObjectSafety", kIID_IObjectSafety, false},
      {&ControlProbe(), "IConnectionPointContainer", kIID_IConnectionPointContainer, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ObjectHasInterface(*c.cls, c.iid), c.answers) << c.cls->name << " " << c.name;
    EXPECT_EQ(InterfaceSupportsErrorInfo(*c.cls, c.iid), c.answers ? kS_OK : kS_FALSE) << c.cls->name << " " << c.name;
  }

  uint32_t supported = 9, enabled = 9;
  EXPECT_EQ(GetInterfaceSafetyOptions(Probe(), kIID_IDispatch, &supported, &enabled), kS_OK);
  EXPECT_EQ(supported, 3u);  // safe for untrusted callers and data
  EXPECT_EQ(enabled, 3u);
  EXPECT_EQ(GetInterfaceSafetyOptions(Probe(), other, &supported, &enabled), kE_NOINTERFACE);
  EXPECT_EQ(supported, 0u);
  EXPECT_EQ(enabled, 0u);
  EXPECT_EQ(GetInterfaceSafetyOptions(Probe(), kIID_IDispatch, nullptr, &enabled), kE_POINTER);
  EXPECT_EQ(GetInterfaceSafetyOptions(Probe(), kIID_IDispatch, &supported, nullptr), kE_POINTER);
  EXPECT_EQ(SetInterfaceSafetyOptions(Probe(), other, 3, 3), kE_NOINTERFACE);
  EXPECT_EQ(SetInterfaceSafetyOptions(Probe(), ProbeInterface().iid, 3, 3), kS_OK);

  const InterfaceDesc* info = nullptr;
  EXPECT_EQ(TypeInfoCount(), 1u);
  EXPECT_EQ(GetTypeInfo(Probe(), 0, info), kS_OK);
  EXPECT_EQ(info, &ProbeInterface());
  EXPECT_EQ(GetTypeInfo(Probe(), 1, info), kDISP_E_BADINDEX);
  EXPECT_EQ(info, nullptr);
}

}  // namespace
}  // namespace zentrak
