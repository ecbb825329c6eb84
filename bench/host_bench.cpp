// Round trips through zentrak-host from one keep-alive client: GetVersion of a LocalDB, one
// request and one answer at a time, as a page's synchronous calls arrive.
//   host_bench ZENTRAK_HOST_BINARY [SECONDS]
// Starts the host on a free port with a scratch configuration, runs for SECONDS (default 3) and
// prints the rate.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <nlohmann/json.hpp>

#include "host/test_client.h"

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

    for (int i = 0; i < 1000; ++i) client.Request("POST", target, call);  // warm up
    using clock = std::chrono::steady_clock;
    auto start = clock::now();
    auto stop = start + std::chrono::duration<double>(seconds);
    long n = 0;
    while (clock::now() < stop) {
      for (int i = 0; i < 100; ++i, ++n) {
        auto r = client.Request("POST", target, call);
        if (r.status != 200 || r.body != expected) {
          std::fprintf(stderr, "unexpected answer %d: %s\n", r.status, r.body.c_str());
          return 1;
        }
      }
    }
    double elapsed = std::chrono::duration<double>(clock::now() - start).count();
    std::printf("GetVersion round trips from one keep-alive client: %ld in %.2f s = %.0f per second (%.1f us each)\n",
                n, elapsed, n / elapsed, elapsed / n * 1e6);
    rc = host.Stop() == 0 ? 0 : 1;
  }
  std::remove(config.c_str());
  rmdir(dir);
  return rc;
}
