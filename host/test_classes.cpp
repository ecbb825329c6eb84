// The host's test-only classes, with type descriptions written by hand.
#include "host/test_classes.h"

#include <memory>

#include "automation/convert.h"

namespace zentrak::host {
namespace {

const InterfaceDesc kPressEvents{
    "IPressTestEvents", "", Guid{0x5A1E0001, 0, 0, {}}, false,
    {{1, "OnKeyPress", MemberKind::kMethod, {{"Key", ParamType::kInt16, true, ParamDirection::kInOut}}, false},
     {2, "OnNotice", MemberKind::kMethod, {{"Text", ParamType::kText, false, ParamDirection::kIn}}, false}}};
const InterfaceDesc kPressInterface{
    "IPressTest", "", Guid{0x5A1E0002, 0, 0, {}}, true,
    {{1, "Press", MemberKind::kMethod, {{"Key", ParamType::kInt32, false, ParamDirection::kIn}}, false},
     {2, "Notice", MemberKind::kMethod, {{"Text", ParamType::kText, false, ParamDirection::kIn}}, false},
     {3, "LastKey", MemberKind::kPropertyGet, {{"Value", ParamType::kInt32, false, ParamDirection::kOutRetval}},
      false}}};
const ClassDesc kPressClass{"PressTest", "", Guid{0x5A1E0003, 0, 0, {}}, &kPressInterface, &kPressEvents,
                            false, false, "TPressTest"};

class TPressTest : public AutomationObject {
 public:
  TPressTest() : AutomationObject(kPressClass) {}
  void Invoke(const MemberDesc& member, std::span<Variant> args, Variant& result) override {
    switch (member.dispid) {
      case 1:
        RaiseEvent(1, {Variant::FromInteger(VarType::Smallint, VarToInteger(args[0]))}, [this](std::span<Variant> a) {
          last_ = VarToInteger(a[0]);
          PressTestFinishedKeys().push_back(last_);
        });
        break;
      case 2:
        RaiseEvent(2, {args[0]});
        break;
      case 3:
        result = Variant::FromInt32(last_);
        break;
    }
  }

 private:
  int32_t last_ = 0;
};

std::unique_ptr<AutomationObject> MakePressTest() { return std::make_unique<TPressTest>(); }

}  // namespace

std::span<const CatalogEntry> TestClasses() {
  static const CatalogEntry entries[] = {{&kPressClass, &MakePressTest}};
  return entries;
}

std::vector<int32_t>& PressTestFinishedKeys() {
  static std::vector<int32_t> keys;
  return keys;
}

}  // namespace zentrak::host
