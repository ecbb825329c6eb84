// Sessions of page loads: bounds, idle ends, and ends that arrive while a call is running.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <utility>
#include <vector>

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

// Each origin, and each local peer without one, has a share of the sessions; a full share makes
// room by ending its own least recently used session that is not in a call.
TEST(Sessions, ShareOfOneOwner) {
  FakeClock clock;
  SessionTable table(6, 8, 1'000'000'000, clock.Fn());
  table.SetMaxPerOwner(2);
  auto open = [&](const std::string& origin, const std::string& peer = {}) {
    clock.now += 10;
    return table.Open(origin, peer);
  };
  PageSession* a1 = open("https://a.example");
  PageSession* a2 = open("https://a.example");
  ASSERT_TRUE(a1 && a2);
  std::string t1 = a1->token, t2 = a2->token;
  clock.now += 10;
  { SessionTable::Lease lease(table, *a1); }  // a1 used last: a2 is the least recently used
  PageSession* a3 = open("https://a.example");
  ASSERT_NE(a3, nullptr);
  EXPECT_EQ(table.Find(t2), nullptr) << "the least recently used session of the origin ends";
  EXPECT_NE(table.Find(t1), nullptr);

  // Sessions in a call are never ended for room: with both busy, the origin is refused.
  {
    SessionTable::Lease l1(table, *table.Find(t1)), l3(table, *a3);
    EXPECT_EQ(open("https://a.example"), nullptr);
    // Other owners have shares of their own.
    EXPECT_NE(open("https://b.example"), nullptr);
    EXPECT_NE(open("", "uid 1000"), nullptr);
    EXPECT_NE(open("", "uid 1000"), nullptr);
    EXPECT_NE(open("", "uid 1001"), nullptr);
  }
  EXPECT_EQ(table.Count(), 6u);
  // The whole table is full: a new owner is refused, and no other owner's session is ended.
  EXPECT_EQ(open("https://c.example"), nullptr);
  EXPECT_EQ(table.Count(), 6u);
  // An owner at its share still makes room for itself.
  EXPECT_NE(open("", "uid 1000"), nullptr);
  EXPECT_EQ(table.Count(), 6u);
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

// The log names every end with its reason, once per session.
TEST(Sessions, EachEndIsReportedOnceWithItsReason) {
  FakeClock clock;
  SessionTable table(8, 8, 10'000'000, clock.Fn());
  table.SetMaxPerOwner(2);
  std::vector<std::pair<uint64_t, SessionEnd>> ends;
  table.SetEndObserver([&](const PageSession& s, SessionEnd why) { ends.emplace_back(s.number, why); });
  PageSession* closed = table.Open("https://a.example");
  std::string closed_token = closed->token;
  EXPECT_EQ(closed->number, 1u);
  table.Open("https://a.example");                      // 2, used last
  clock.now += 1;
  table.Open("https://b.example");                      // 3
  EXPECT_TRUE(table.End(closed_token));                 // 1: closed by its page
  EXPECT_FALSE(table.End(closed_token));                // not reported twice
  table.Open("https://a.example");                      // 4
  table.Open("https://a.example");                      // 5: a.example's share is full, 2 makes room
  clock.now += 20'000'000;
  PageSession* fresh = table.Open("https://c.example");  // 6
  { SessionTable::Lease lease(table, *fresh); }
  table.EndIdle();                                      // 3, 4 and 5 idle
  table.EndAll();                                       // 6 at the stop
  std::map<uint64_t, SessionEnd> by_number(ends.begin(), ends.end());
  EXPECT_EQ(ends.size(), 6u);
  EXPECT_EQ(by_number, (std::map<uint64_t, SessionEnd>{{1, SessionEnd::kClosed},
                                                        {2, SessionEnd::kMadeRoom},
                                                        {3, SessionEnd::kIdle},
                                                        {4, SessionEnd::kIdle},
                                                        {5, SessionEnd::kIdle},
                                                        {6, SessionEnd::kHostStopped}}));
}

}  // namespace
}  // namespace zentrak::host
