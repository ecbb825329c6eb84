// printOut of a PDF beside `lp` of the same file to the same queue, alternating, each timed from
// the call until CUPS has accepted the job. The queue is drained, untimed, after every job, so
// that the server's filters do not run during the next timing.
//   print_bench QUEUE FILE RUNS   (CUPS_SERVER names the server; bench/print_bench.sh sets it up)
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "codec/base64.h"
#include "platform/codepage.h"
#include "print/print_server.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double Millis(Clock::time_point since) {
  return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// Runs a program and waits for it; false when it cannot start or fails.
bool Run(std::vector<std::string> args, bool quiet) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (quiet) posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t child;
  int status = -1;
  bool started = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ) == 0;
  posix_spawn_file_actions_destroy(&actions);
  return started && waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void WaitUntilIdle(const std::string& queue) {
  for (int i = 0; i < 1200; ++i) {
    FILE* p = popen(("lpstat -o " + queue).c_str(), "r");
    char line[512];
    bool busy = p && fgets(line, sizeof line, p) != nullptr;
    if (p) pclose(p);
    if (!busy) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  std::fprintf(stderr, "the queue %s did not drain\n", queue.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: print_bench QUEUE FILE RUNS\n");
    return 2;
  }
  const std::string queue = argv[1], file = argv[2];
  const int runs = std::atoi(argv[3]);
  std::ifstream in(file, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  // The page hands the document over as Base64 text; encoding it is not part of the call.
  const zentrak::Variant doc(zentrak::platform::AnsiToWide(zentrak::EncodeBase64(bytes.str())));

  char profile[] = "/tmp/zentrak-print-bench.XXXXXX";
  if (!mkdtemp(profile)) return 1;
  setenv("USERPROFILE", profile, 1);
  zentrak::TPrintServer server;
  zentrak::Variant ok;
  server.setDBName(zentrak::Variant(u"bench"), zentrak::Variant(), ok);
  if (!ok.BoolValue()) return 1;

  std::vector<double> ours, lp;
  for (int i = 0; i < runs; ++i) {
    auto start = Clock::now();
    if (!Run({"lp", "-d", queue, file}, true)) return 1;
    lp.push_back(Millis(start));
    WaitUntilIdle(queue);

    start = Clock::now();
    zentrak::Variant value;
    server.printOut(zentrak::Variant(zentrak::platform::AnsiToWide(queue)), doc, value);
    ours.push_back(Millis(start));
    WaitUntilIdle(queue);
  }
  std::printf("printOut %.1f ms  lp %.1f ms  ratio %.2f  (medians of %d, %zu bytes)\n", Median(ours), Median(lp),
              Median(ours) / Median(lp), runs, bytes.str().size());
  std::string cleanup = std::string("rm -rf ") + profile;
  return std::system(cleanup.c_str()) == 0 ? 0 : 1;
}
