// Round trips through zentrak-host from one keep-alive client: GetVersion of a LocalDB, one
// request and one answer at a time, as a page's synchronous calls arrive.
//   host_bench ZENTRAK_HOST_BINARY [SECONDS [DATABASE SQL]]
// Starts the host on a free port with a scratch configuration, runs for SECONDS (default 3) and
// prints the rate. For scale it also prints two floors measured the same way: the host's answer
// to a GET of a missing page (the HTTP server's own cost, no body, no wire request) and a bare
// TCP echo over loopback (the machine's cost of a round trip between two processes).
// With DATABASE (a file NAME.db in a folder named Zentrak) and SQL it also times queryAll of SQL
// through the host against the same call in this process, and prints the ratio.
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/text.h"
#include "host/test_client.h"
#include "localdb/local_db.h"

namespace {

using Clock = std::chrono::steady_clock;

// Runs one round trip repeatedly for `seconds` and returns the rate per second.
template <typename Trip>
double Rate(double seconds, Trip&& trip) {
  for (int i = 0; i < 1000; ++i) trip();  // warm up
  auto start = Clock::now();
  auto stop = start + std::chrono::duration<double>(seconds);
  long n = 0;
  while (Clock::now() < stop)
    for (int i = 0; i < 100; ++i, ++n) trip();
  return n / std::chrono::duration<double>(Clock::now() - start).count();
}

// A forked echo server on a loopback socket and one client.
double EchoRate(double seconds) {
  int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (::bind(listener, reinterpret_cast<sockaddr*>(&a), len) != 0 || ::listen(listener, 1) != 0) return 0;
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
  pid_t child = ::fork();
  if (child == 0) {
    int c = ::accept(listener, nullptr, nullptr);
    char b[512];
    for (ssize_t n; (n = ::recv(c, b, sizeof b, 0)) > 0;) ::send(c, b, static_cast<size_t>(n), 0);
    ::_exit(0);
  }
  int s = ::socket(AF_INET, SOCK_STREAM, 0);
  int one = 1;
  ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  double rate = 0;
  if (::connect(s, reinterpret_cast<sockaddr*>(&a), len) == 0) {
    rate = Rate(seconds, [&] {
      char b[64];
      ::send(s, "ping", 4, 0);
      ::recv(s, b, sizeof b, 0);
    });
  }
  ::close(s);
  ::close(listener);
  ::waitpid(child, nullptr, 0);
  return rate;
}

// Seconds one call of f takes.
template <typename F>
double Seconds(F&& f) {
  auto start = Clock::now();
  f();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// queryAll through the host against the same call in process.
int CompareQueryAll(const char* host_binary, const std::string& config, const char* database, const char* sql) {
  std::string path = database;
  size_t slash = path.rfind('/');
  std::string folder = path.substr(0, slash);            // .../Zentrak
  std::string profile = folder.substr(0, folder.rfind('/'));
  std::string name = path.substr(slash + 1, path.size() - slash - 4);
  setenv("USERPROFILE", profile.c_str(), 1);
  const int pairs = 15;

  zentrak::TLocalDB db;
  zentrak::Variant ok;
  db.setDBName(zentrak::Variant(zentrak::Utf8ToWide(name)), zentrak::Variant(), ok);
  if (!ok.BoolValue()) return 1;
  size_t in_process_size = 0;
  auto in_process = [&] {
    zentrak::Variant out;
    db.queryAll(zentrak::Variant(zentrak::Utf8ToWide(sql)), out);
    in_process_size = out.WideText().size();
  };

  zentrak::host::testing::HostProcess host(host_binary, config, {"--no-prompt"});
  zentrak::host::testing::HttpClient client("127.0.0.1", host.Port());
  auto opened = nlohmann::json::parse(client.Request("POST", "/api", R"({"op":"session"})").body);
  std::string target = "/api?session=" + opened["session"].get<std::string>();
  auto created =
      nlohmann::json::parse(client.Request("POST", target, R"({"op":"create","progid":"Zentrak.LocalDB"})").body);
  std::string object = std::to_string(created["object"].get<int64_t>());
  client.Request("POST", target, R"({"op":"call","object":)" + object + R"(,"name":"setDBName","args":[)" +
                                     nlohmann::json(name).dump() + R"(,""]})");
  std::string call =
      R"({"op":"call","object":)" + object + R"(,"name":"queryAll","args":[)" + nlohmann::json(sql).dump() + "]}";
  size_t answer_size = 0;
  auto through_host = [&] { answer_size = client.Request("POST", target, call).body.size(); };

  // The two alternate, so that a machine whose speed drifts weighs on both alike; the figures
  // are medians.
  in_process();
  through_host();
  std::vector<double> in, through, ratio;
  for (int i = 0; i < pairs; ++i) {
    in.push_back(Seconds(in_process));
    through.push_back(Seconds(through_host));
    ratio.push_back(through.back() / in.back());
  }
  std::printf("queryAll in process %.3f s (%zu units); through the host %.3f s (%zu bytes); ratio %.2f "
              "(median of %d pairs, from %.2f to %.2f)\n",
              Median(in), in_process_size, Median(through), answer_size, Median(ratio), pairs,
              *std::min_element(ratio.begin(), ratio.end()), *std::max_element(ratio.begin(), ratio.end()));
  return host.Stop() == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: host_bench ZENTRAK_HOST_BINARY [SECONDS]\n");
    return 2;
  }
  double seconds = argc > 2 ? std::atof(argv[2]) : 3.0;
  char dir[] = "/tmp/zentrak-bench-XXXXXX";
  if (!mkdtemp(dir)) return 1;
  std::string config = std::string(dir) + "/host.json";
  int rc = 0;
  {
    zentrak::host::testing::HostProcess host(argv[1], config, {"--no-prompt"});
    zentrak::host::testing::HttpClient client("127.0.0.1", host.Port());
    auto opened = nlohmann::json::parse(client.Request("POST", "/api", R"({"op":"session"})").body);
    std::string target = "/api?session=" + opened["session"].get<std::string>();
    auto created = nlohmann::json::parse(client.Request("POST", target, R"({"op":"create","progid":"Zentrak.LocalDB"})").body);
    std::string call = R"({"op":"call","object":)" + std::to_string(created["object"].get<int64_t>()) + R"(,"dispid":201})";
    const std::string expected = R"({"id":null,"ok":true,"value":"Corvel SqliteDB 0.8"})";

    bool wrong = false;
    // Five windows; the figure is their median, the spread shows how steady the machine was.
    std::vector<double> rates;
    for (int w = 0; w < 5; ++w) {
      rates.push_back(Rate(seconds / 5, [&] {
        auto r = client.Request("POST", target, call);
        if (r.status != 200 || r.body != expected) wrong = true;
      }));
    }
    double rate = Median(rates);
    if (wrong) {
      std::fprintf(stderr, "unexpected answers to GetVersion\n");
      return 1;
    }
    double missing = Rate(seconds, [&] { client.Request("GET", "/nothing"); });
    std::printf("GetVersion round trips from one keep-alive client: %.0f per second (%.1f us each; windows "
                "from %.0f to %.0f)\n",
                rate, 1e6 / rate, *std::min_element(rates.begin(), rates.end()),
                *std::max_element(rates.begin(), rates.end()));
    std::printf("  for scale: GET of a missing page %.0f per second; bare TCP echo over loopback %.0f per second\n",
                missing, EchoRate(seconds));
    rc = host.Stop() == 0 ? 0 : 1;
  }
  if (rc == 0 && argc > 4) rc = CompareQueryAll(argv[1], config, argv[3], argv[4]);
  std::remove(config.c_str());
  rmdir(dir);
  return rc;
}
