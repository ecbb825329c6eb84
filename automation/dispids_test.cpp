// The named DISPIDs against the type library description: every name is a member with that
// DISPID, every member has its name, and every interface with members is bound.
#include <gtest/gtest.h>

#include <string>

#include "automation/dispids.h"
#include "automation/typelib.h"

namespace zentrak {
namespace {

const InterfaceDesc* FindInterface(std::string_view name) {
  for (const TypeEntry& t : ZentrakTypeLibrary().types) {
    if ((t.kind == TypeKind::kDualInterface || t.kind == TypeKind::kDispatchInterface) && name == t.name)
      return static_cast<const InterfaceDesc*>(t.desc);
  }
  return nullptr;
}

TEST(NamedDispids, AgreeWithTheTypeLibrary) {
  for (const dispid::BoundInterface& bound : dispid::kBoundInterfaces) {
    const InterfaceDesc* itf = FindInterface(bound.name);
    ASSERT_NE(itf, nullptr) << bound.name;
    auto same = [](const MemberDesc& m, const dispid::NamedDispid& n) {
      return std::string(m.name) == n.member && m.dispid == n.dispid;
    };
    // Each name: a member spelled exactly so, with that DISPID.
    for (const dispid::NamedDispid& n : bound.members) {
      bool found = false;
      for (const MemberDesc& m : itf->members) found = found || same(m, n);
      EXPECT_TRUE(found) << bound.name << "." << n.member << " = " << n.dispid;
    }
    // Each member (a property once for get, put and putref): named with its DISPID.
    for (const MemberDesc& m : itf->members) {
      bool named = false;
      for (const dispid::NamedDispid& n : bound.members) named = named || same(m, n);
      EXPECT_TRUE(named) << bound.name << "." << m.name << " (" << m.dispid << ") has no constant";
    }
  }
}

TEST(NamedDispids, EveryInterfaceWithMembersIsBound) {
  for (const TypeEntry& t : ZentrakTypeLibrary().types) {
    if (t.kind != TypeKind::kDualInterface && t.kind != TypeKind::kDispatchInterface) continue;
    if (static_cast<const InterfaceDesc*>(t.desc)->members.empty()) continue;
    bool bound = false;
    for (const dispid::BoundInterface& b : dispid::kBoundInterfaces) bound = bound || std::string(b.name) == t.name;
    EXPECT_TRUE(bound) << t.name;
  }
}

}  // namespace
}  // namespace zentrak
