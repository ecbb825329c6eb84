// zentrak-host: the four objects for programs and pages on Linux.
//   zentrak-host [options]   serves pages in browsers over HTTP on the loopback interface
//   zentrak-host --stdio     answers one JSON request per line of standard input with one JSON
//                            answer per line of standard output
#include <glib-unix.h>
#include <malloc.h>
#include <gtk/gtk.h>

#include <clocale>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>

#include "catalog/catalog.h"
#include "host/config.h"
#include "host/http_server.h"
#include "host/peer_identity.h"
#include "host/wire.h"
#if ZENTRAK_TEST_CLASSES
#include "host/test_classes.h"
#endif

namespace {

using zentrak::host::HostSettings;

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

void Usage(std::ostream& out) {
  out << "usage: zentrak-host [options]\n"
         "       zentrak-host --stdio\n"
         "Serves the Zentrak objects to pages in browsers on http://127.0.0.1:PORT/ (and [::1]).\n"
         "  --port N               listen on port N (default "
      << zentrak::host::kDefaultPort
      << "; 0 picks a free port)\n"
         "  --config FILE          configuration file (default $XDG_CONFIG_HOME/zentrak/host.json)\n"
         "  --allow-origin ORIGIN  approve pages of ORIGIN for this run; repeatable; \"null\" approves\n"
         "                         file: pages\n"
         "  --idle-timeout SECONDS release a page's objects after this long without a request\n"
         "                         (default 600)\n"
         "  --max-sessions N       page loads served at once (default 64)\n"
         "  --max-objects N        objects per page load (default 4096)\n"
         "  --max-request-bytes N  largest request body (default 67108864)\n"
         "  --no-prompt            never ask about unknown origins; refuse them\n"
         "  --stdio                answer JSON requests, one per line, on standard input and output\n"
         "Limits on what one client may hold (see the README's Security section):\n"
         "  --max-connections N    connections served at once (default "
      << zentrak::host::kMaxConnections << ")\n"
         "  --max-connections-per-peer N\n"
         "                         of those, from one user's programs (default "
      << zentrak::host::kMaxConnectionsPerPeer << ")\n"
         "  --max-sessions-per-owner N\n"
         "                         page loads of one origin, or of local programs without one (default "
      << zentrak::host::kMaxSessionsPerOwner << ")\n"
         "  --head-timeout SECONDS a request's line and headers must arrive within this (default "
      << zentrak::host::kHeadTimeoutSeconds << ")\n"
         "  --body-timeout SECONDS a body with no byte arriving this long is dropped (default "
      << zentrak::host::kBodyTimeoutSeconds << ")\n"
         "  --write-timeout SECONDS\n"
         "                         a client that takes no byte of its answer this long is dropped (default "
      << zentrak::host::kWriteTimeoutSeconds << ")\n"
         "  --max-unsent-bytes N   answers held for clients that have not read them; beyond it calls are\n"
         "                         refused with 503 (default "
      << zentrak::host::kMaxUnsentBytes << ")\n"
         "  --allow-other-users-unchecked\n"
         "                         serve connections without finding out which user they come from; needed\n"
         "                         only where the kernel's socket diagnostics (NETLINK_SOCK_DIAG) are\n"
         "                         missing, and then every account on this computer can use the host\n"
#if ZENTRAK_TEST_CLASSES
         "  --test-classes         also serve the test-only classes (Zentrak.PressTest)\n"
#endif
      ;
}

bool ParseNumber(const char* text, unsigned long long max, unsigned long long& out) {
  if (!text || !*text) return false;
  char* end = nullptr;
  errno = 0;
  out = std::strtoull(text, &end, 10);
  return errno == 0 && *end == 0 && text[0] != '-' && out <= max;
}

gboolean Quit(gpointer loop) {
  g_main_loop_quit(static_cast<GMainLoop*>(loop));
  return G_SOURCE_CONTINUE;
}

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  zentrak::StartCatalog();
  // A big result passes through buffers of tens of megabytes: the table, its UTF-16 text and
  // the answer. glibc would map each afresh and unmap it on free, so every call faulted all of
  // that memory in again, page by page. The host keeps freed memory instead, and gives it back
  // when it has been idle for a while (HttpServer's sweep).
  mallopt(M_MMAP_THRESHOLD, 256 * 1024 * 1024);
  mallopt(M_TRIM_THRESHOLD, 1024 * 1024 * 1024);
  std::optional<std::string> config_path;
  std::optional<unsigned long long> port, idle, max_sessions, max_objects, max_bytes, max_connections,
      per_peer, per_owner, head_timeout, body_timeout, write_timeout, max_unsent;
  bool unchecked_peers = false;
  std::vector<std::string> allow;
  bool prompt = true;

  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&](unsigned long long max, std::optional<unsigned long long>& into) {
      unsigned long long v;
      if (i + 1 >= argc || !ParseNumber(argv[i + 1], max, v)) {
        std::cerr << "zentrak-host: " << arg << " needs a number from 0 to " << max << "\n";
        std::exit(2);
      }
      into = v;
      ++i;
    };
    if (arg == "--stdio") return RunStdio();
    if (arg == "--help" || arg == "-h") {
      Usage(std::cout);
      return 0;
    }
    if (arg == "--port") {
      value(65535, port);
    } else if (arg == "--idle-timeout") {
      value(86400 * 7, idle);
    } else if (arg == "--max-sessions") {
      value(100000, max_sessions);
    } else if (arg == "--max-objects") {
      value(1000000, max_objects);
    } else if (arg == "--max-request-bytes") {
      value(1ull << 32, max_bytes);
    } else if (arg == "--max-connections") {
      value(100000, max_connections);
    } else if (arg == "--max-connections-per-peer") {
      value(100000, per_peer);
    } else if (arg == "--max-sessions-per-owner") {
      value(100000, per_owner);
    } else if (arg == "--head-timeout") {
      value(86400, head_timeout);
    } else if (arg == "--body-timeout") {
      value(86400, body_timeout);
    } else if (arg == "--write-timeout") {
      value(86400, write_timeout);
    } else if (arg == "--max-unsent-bytes") {
      value(1ull << 40, max_unsent);
    } else if (arg == "--allow-other-users-unchecked") {
      unchecked_peers = true;
    } else if (arg == "--config" && i + 1 < argc) {
      config_path = argv[++i];
    } else if (arg == "--allow-origin" && i + 1 < argc) {
      auto origin = zentrak::host::NormalizeOrigin(argv[++i]);
      if (!origin) {
        std::cerr << "zentrak-host: --allow-origin " << argv[i] << ": not an origin such as https://intranet.example\n";
        return 2;
      }
      allow.push_back(*origin);
    } else if (arg == "--no-prompt") {
      prompt = false;
#if ZENTRAK_TEST_CLASSES
    } else if (arg == "--test-classes") {
      // Before --stdio, which answers at once.
      zentrak::host::SetDefaultExtraClasses(zentrak::host::TestClasses());
#endif
    } else {
      std::cerr << "zentrak-host: unknown option " << arg << "\n";
      Usage(std::cerr);
      return 2;
    }
  }

  zentrak::host::ConfigFile config(config_path ? *config_path : zentrak::host::DefaultConfigPath());
  HostSettings settings;
  try {
    settings = config.Load();
  } catch (const zentrak::host::ConfigError& e) {
    std::cerr << "zentrak-host: " << e.what() << "\n";
    return 1;
  }
  if (port) settings.port = static_cast<uint16_t>(*port);
  if (idle) settings.idle_timeout_seconds = static_cast<unsigned>(*idle ? *idle : 1);
  if (max_sessions) settings.max_sessions = *max_sessions;
  if (max_objects) settings.max_objects_per_session = *max_objects;
  if (max_bytes) settings.max_request_bytes = *max_bytes;
  // A limit of 0 would refuse everything: the least is 1.
  auto at_least_one = [](unsigned long long v) { return v ? v : 1; };
  if (max_connections) settings.max_connections = at_least_one(*max_connections);
  if (per_peer) settings.max_connections_per_peer = at_least_one(*per_peer);
  if (per_owner) settings.max_sessions_per_owner = at_least_one(*per_owner);
  if (head_timeout) settings.head_timeout_seconds = static_cast<unsigned>(at_least_one(*head_timeout));
  if (body_timeout) settings.body_timeout_seconds = static_cast<unsigned>(at_least_one(*body_timeout));
  if (write_timeout) settings.write_timeout_seconds = static_cast<unsigned>(at_least_one(*write_timeout));
  if (max_unsent) settings.max_unsent_bytes = *max_unsent;
  if (unchecked_peers) {
    settings.check_peer_uid = false;
    std::cerr << "zentrak-host: --allow-other-users-unchecked: the programs of every account on this computer may "
                 "use this host\n";
  } else {
    std::string why;
    if (!zentrak::host::PeerUidLookupWorks(why)) {
      std::cerr << "zentrak-host: cannot find out which user a connection comes from (" << why
                << "), so other accounts on this computer could use the host; not starting. Start it with "
                   "--allow-other-users-unchecked to serve every account anyway.\n";
      return 1;
    }
  }
  for (const auto& o : allow) {
    if (o == "null")
      settings.allow_null_origin = true;
    else
      settings.allowed_origins.push_back(o);
  }

  // GTK serves the origin question and the objects' dialogs. Without a display there is no one
  // to ask, and unknown origins are refused.
  bool have_display = std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY");
  bool gtk = have_display && gtk_init_check(nullptr, nullptr);
  std::unique_ptr<zentrak::host::OriginPrompter> prompter;
  if (gtk && prompt) prompter = zentrak::host::MakeGtkPrompter();

  std::signal(SIGPIPE, SIG_IGN);
  zentrak::host::HttpServer server(settings, &config, std::move(prompter));
  std::string error;
  if (!server.Listen(error)) {
    std::cerr << "zentrak-host: " << error << "\n";
    return 1;
  }
  std::cout << "zentrak-host: listening on http://127.0.0.1:" << server.Port() << "/ (demo: http://127.0.0.1:"
            << server.Port() << "/demo)" << std::endl;

  GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
  g_unix_signal_add(SIGINT, Quit, loop);
  g_unix_signal_add(SIGTERM, Quit, loop);
  g_main_loop_run(loop);
  // Stopping releases every page's objects; a LocalDB closes its database.
  server.EndAllSessions();
  g_main_loop_unref(loop);
  return 0;
}
