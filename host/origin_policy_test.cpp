// The Host header gate and origin decisions.
#include <gtest/gtest.h>

#include "host/origin_policy.h"

namespace zentrak::host {
namespace {

TEST(HostHeader, OnlyLoopbackNamesWithThePort) {
  struct Case {
    const char* host;
    bool ok;
  } cases[] = {
      {"127.0.0.1:48620", true},
      {"[::1]:48620", true},
      {"localhost:48620", true},
      {"LocalHost:48620", true},
      {"127.0.0.1:48621", false},       // another port
      {"127.0.0.1", false},              // no port means 80
      {"evil.example:48620", false},     // DNS rebinding: a foreign name that resolves to 127.0.0.1
      {"localhost.evil.example:48620", false},
      {"127.0.0.2:48620", false},
      {"[::1]", false},
      {"::1:48620", false},              // v6 literal without brackets
      {"127.0.0.1:048620", false},
      {"127.0.0.1:", false},
      {"127.0.0.1:48620x", false},
      {"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsLoopbackHost(c.host, 48620), c.ok) << c.host;
  EXPECT_TRUE(IsLoopbackHost("localhost", 80));
}

TEST(Origins, CanonicalForm) {
  struct Case {
    const char* in;
    const char* out;  // null: not an origin
  } cases[] = {
      {"https://Intranet.Example", "https://intranet.example"},
      {"HTTPS://intranet.example:443", "https://intranet.example"},
      {"http://intranet.example:80/", "http://intranet.example"},
      {"http://intranet.example:8080", "http://intranet.example:8080"},
      {"https://intranet.example:80", "https://intranet.example:80"},
      {"http://[::1]:48620", "http://[::1]:48620"},
      {"null", "null"},
      {"intranet.example", nullptr},
      {"https://intranet.example/app", nullptr},
      {"https://user@intranet.example", nullptr},
      {"https://intranet.example?x", nullptr},
      {"https://intranet.example:0", nullptr},
      {"https://intranet.example:70000", nullptr},
      {"https://", nullptr},
      {"https://a b", nullptr},
      {"", nullptr},
  };
  for (const auto& c : cases) {
    auto got = NormalizeOrigin(c.in);
    if (c.out)
      EXPECT_EQ(got.value_or("<none>"), c.out) << c.in;
    else
      EXPECT_FALSE(got.has_value()) << c.in << " gave " << *got;
  }
}

TEST(Origins, Decisions) {
  OriginPolicy p(48620);
  p.Allow("https://intranet.example");
  p.Block("http://evil.example");
  p.Allow("http://both.example");
  p.Block("http://both.example");
  p.Block("http://127.0.0.1:48620");  // the host's own pages cannot be blocked
  struct Case {
    const char* origin;
    OriginDecision decision;
  } cases[] = {
      {"http://127.0.0.1:48620", OriginDecision::kApproved},
      {"http://[::1]:48620", OriginDecision::kApproved},
      {"http://localhost:48620", OriginDecision::kApproved},
      {"http://127.0.0.1:48621", OriginDecision::kUnknown},  // another local server is another origin
      {"https://intranet.example", OriginDecision::kApproved},
      {"https://INTRANET.example:443", OriginDecision::kApproved},
      {"http://intranet.example", OriginDecision::kUnknown},  // the scheme is part of the origin
      {"http://evil.example", OriginDecision::kBlocked},
      {"http://both.example", OriginDecision::kBlocked},      // a block wins
      {"https://other.example", OriginDecision::kUnknown},
      {"null", OriginDecision::kBlocked},
      {"garbage", OriginDecision::kBlocked},
  };
  for (const auto& c : cases) EXPECT_EQ(p.Decide(c.origin), c.decision) << c.origin;
  p.SetAllowNull(true);
  EXPECT_EQ(p.Decide("null"), OriginDecision::kApproved);
}

}  // namespace
}  // namespace zentrak::host
