// zentrak-host: the four objects for programs and pages on Linux. With --stdio it answers one JSON
// request per line of standard input with one JSON answer per line of standard output.
#include <clocale>
#include <cstring>
#include <iostream>
#include <string>

#include "host/wire.h"

namespace {

int RunStdio() {
  zentrak::host::Session session;
  std::string line;
  std::ios::sync_with_stdio(false);
  while (std::getline(std::cin, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.find_first_not_of(" \t") == std::string::npos) continue;
    std::cout << session.HandleText(line) << '\n' << std::flush;
  }
  // End of input releases every object; a LocalDB closes its database.
  session.ReleaseAll();
  return 0;
}

void Usage() {
  std::cerr << "usage: zentrak-host --stdio\n"
               "  --stdio   answer JSON requests, one per line, on standard input and output\n";
}

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--stdio") == 0) return RunStdio();
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      Usage();
      return 0;
    }
  }
  Usage();
  return 2;
}
