// Coercion and dispatch when the heap is exhausted: an allocation failure fails the call with
// E_OUTOFMEMORY and is never taken for a value that does not convert. This program replaces the
// global operator new with one that a test can make fail, so it is a test executable of its own.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <string>

#include "automation/automation_object.h"
#include "automation/convert.h"
#include "automation/dispatch.h"

namespace {
bool fail_allocations = false;
}  // namespace

// The replacement pair allocates with malloc and frees with free; GCC cannot see that they match.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(std::size_t size) {
  if (fail_allocations) throw std::bad_alloc();
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace zentrak {
namespace {

// Allocations fail while one of these lives.
struct ExhaustedHeap {
  ExhaustedHeap() { fail_allocations = true; }
  ~ExhaustedHeap() { fail_allocations = false; }
};

// Text long enough that no string keeps it inline.
const std::u16string kLongText(64, u'x');

TEST(CoercionUnderExhaustedHeap, AllocationFailureIsNotATypeMismatch) {
  struct Case {
    const char* what;
    Variant value;
    ParamType type;
  } cases[] = {
      {"wide text to text", Variant(kLongText), ParamType::kText},
      {"8-bit text to text", Variant::FromAnsi(std::string(64, 'y')), ParamType::kText},
      {"text to integer", Variant(kLongText), ParamType::kInt32},
      {"text to boolean", Variant(kLongText), ParamType::kBoolean},
  };
  for (const Case& c : cases) {
    bool out_of_memory = false, converted = false;
    {
      ExhaustedHeap heap;
      try {
        converted = Coerce(c.value, c.type).has_value();
      } catch (const std::bad_alloc&) {
        out_of_memory = true;
      }
    }
    EXPECT_TRUE(out_of_memory) << c.what;
    EXPECT_FALSE(converted) << c.what;
  }
}

TEST(CoercionUnderExhaustedHeap, MismatchNeedsNoMemory) {
  // Values whose tag cannot convert are refused before anything is allocated.
  struct Case {
    Variant value;
    ParamType type;
  } cases[] = {
      {Variant::Null(), ParamType::kText},
      {Variant::Null(), ParamType::kInt32},
      {Variant::FromError(0), ParamType::kBoolean},
      {Variant::FromInt32(70000), ParamType::kInt16},
      {Variant::FromInt64(1LL << 40), ParamType::kColor},
      {Variant::FromInt32(1), ParamType::kFont},
  };
  for (const Case& c : cases) {
    bool mismatch = false;
    {
      ExhaustedHeap heap;
      mismatch = !Coerce(c.value, c.type).has_value();
    }
    EXPECT_TRUE(mismatch) << VarTypeName(c.value.Type());
  }
}

// A class of this test alone, with one method taking text.
const InterfaceDesc kTextInterface{"ITextTaker", "", {}, true,
                                   {{1, "Take", MemberKind::kMethod, {{"Text", ParamType::kText, false,
                                                                      ParamDirection::kIn}}, false}}};
const ClassDesc kTextClass{"TextTaker", "", {}, &kTextInterface, &kTextInterface, false, false, "TTextTaker"};

class TextTaker : public AutomationObject {
 public:
  TextTaker() : AutomationObject(kTextClass) {}
  void Invoke(const MemberDesc&, std::span<Variant> args, Variant&) override { taken = args[0].WideText(); }
  std::u16string taken;
};

TEST(DispatchUnderExhaustedHeap, FailsWithOutOfMemory) {
  TextTaker object;
  std::vector<Variant> args{Variant::FromAnsi(std::string(64, 'z'))};
  Variant result;
  args.reserve(4);
  CallOutcome outcome;
  {
    ExhaustedHeap heap;
    outcome = Invoke(object, 1, MemberKind::kMethod, args, result);
  }
  EXPECT_EQ(outcome.status, kE_UNEXPECTED);  // not a type mismatch
  EXPECT_FALSE(outcome.error.has_value());  // there was no room to write one
  EXPECT_TRUE(object.taken.empty());

  // With memory, the same call runs, and a value that cannot convert is a type mismatch.
  outcome = Invoke(object, 1, MemberKind::kMethod, args, result);
  EXPECT_EQ(outcome.status, kS_OK);
  EXPECT_EQ(object.taken, std::u16string(64, u'z'));
  args = {Variant::Null()};
  outcome = Invoke(object, 1, MemberKind::kMethod, args, result);
  EXPECT_EQ(outcome.status, kDISP_E_TYPEMISMATCH);
  EXPECT_EQ(outcome.arg_error, 0u);
}

}  // namespace
}  // namespace zentrak
