// Sessions of page loads: bounds, idle ends, and ends that arrive while a call is running.
#include <gtest/gtest.h>

#include <set>

#include "host/sessions.h"

namespace zentrak::host {
namespace {

using json = nlohmann::ordered_json;

struct FakeClock {
  int64_t now = 1000;
  SessionTable::Clock Fn() {
    return [this] { return now; };
  }
};

int64_t Create(PageSession& s) {
  return s.wire.Handle({{"op", "create"}, {"progid", "Zentrak.LocalDB"}})["object"].get<int64_t>();
}

TEST(Sessions, TokensAreRandomHex) {
  std::set<std::string> seen;
  for (int i = 0; i < 100; ++i) {
    std::string t = NewSessionToken();
    EXPECT_EQ(t.size(), 32u);
    EXPECT_EQ(t.find_first_not_of("0123456789abcdef"), std::string::npos) << t;
    seen.insert(t);
  }
  EXPECT_EQ(seen.size(), 100u);
}

TEST(Sessions, NumberIsBounded) {
  SessionTable table(2, 8, 1000000);
  PageSession* a = table.Open("https://a.example");
  ASSERT_TRUE(a && table.Open("https://a.example"));
  EXPECT_EQ(table.Open("https://a.example"), nullptr);
  EXPECT_TRUE(table.End(a->token));
  EXPECT_NE(table.Open("https://b.example"), nullptr);  // an ended session frees its place
  EXPECT_FALSE(table.End("no-such-token"));
}

TEST(Sessions, ObjectsPerSessionAreBounded) {
  SessionTable table(4, 1, 1000000);
  PageSession* s = table.Open("");
  Create(*s);
  json refused = s->wire.Handle({{"op", "create"}, {"progid", "Zentrak.LocalDB"}});
  EXPECT_FALSE(refused["ok"].get<bool>());
}

TEST(Sessions, IdleSessionsEnd) {
  FakeClock clock;
  SessionTable table(8, 8, 10'000'000, clock.Fn());
  PageSession* used = table.Open("");
  PageSession* idle = table.Open("");
  std::string used_token = used->token, idle_token = idle->token;
  clock.now += 6'000'000;
  { SessionTable::Lease lease(table, *used); }  // a request stamps its session
  clock.now += 5'000'000;                       // 11 s since the idle one was used, 5 s for the other
  EXPECT_EQ(table.EndIdle(), 1u);
  EXPECT_EQ(table.Find(idle_token), nullptr);
  EXPECT_NE(table.Find(used_token), nullptr);
  clock.now += 5'000'000;  // exactly the timeout: not yet idle for longer than it
  EXPECT_EQ(table.EndIdle(), 0u);
  clock.now += 1;
  EXPECT_EQ(table.EndIdle(), 1u);
  EXPECT_EQ(table.Count(), 0u);
}

TEST(Sessions, EndDuringACallWaitsForTheCall) {
  FakeClock clock;
  SessionTable table(8, 8, 10'000'000, clock.Fn());
  PageSession* s = table.Open("");
  Create(*s);
  Create(*s);
  std::string token = s->token;
  {
    SessionTable::Lease lease(table, *s);  // a call is running, in a nested main loop
    clock.now += 60'000'000;
    EXPECT_EQ(table.EndIdle(), 0u);        // a busy session is not idle
    EXPECT_TRUE(table.End(token));         // the unload beacon arrives meanwhile
    EXPECT_EQ(table.Find(token), nullptr); // no new request reaches it
    EXPECT_EQ(table.Count(), 1u);          // but it still exists for the running call
    EXPECT_EQ(lease->wire.ObjectCount(), 0u);
    EXPECT_FALSE(table.End(token));
  }
  EXPECT_EQ(table.Count(), 0u);
}

}  // namespace
}  // namespace zentrak::host
