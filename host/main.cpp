// zentrak-host: the four objects for programs and pages on Linux.
//   zentrak-host [options]   serves pages in browsers over HTTP on the loopback interface
//   zentrak-host --stdio     answers one JSON request per line of standard input with one JSON
//                            answer per line of standard output
//   zentrak-host --sites, --forget ORIGIN
//                            lists the user's answers about origins, forgets one
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

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
#include <string_view>
#include <vector>

#include "catalog/catalog.h"
#include "host/config.h"
#include "host/http_server.h"
#include "host/log.h"
#include "host/peer_identity.h"
#include "host/sites_page.h"
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

// --sites: the answers kept in the configuration file.
int ListSites(const zentrak::host::ConfigFile& config) {
  try {
    auto sites = config.Sites();
    std::cout << zentrak::host::SitesListText(sites);
    if (sites.empty()) std::cerr << "zentrak-host: no origin is allowed or blocked in " << config.Path() << "\n";
    return 0;
  } catch (const zentrak::host::ConfigError& e) {
    std::cerr << "zentrak-host: " << e.what() << "\n";
    return 1;
  }
}

// --forget ORIGIN. A running host rereads the file at its next request from a page.
int ForgetSite(const zentrak::host::ConfigFile& config, const std::string& text) {
  auto origin = zentrak::host::NormalizeOrigin(text);
  if (!origin) {
    std::cerr << "zentrak-host: --forget " << text << ": not an origin such as https://intranet.example\n";
    return 2;
  }
  bool found = false;
  std::string error;
  if (!config.Forget(*origin, found, error)) {
    std::cerr << "zentrak-host: " << error << "\n";
    return 1;
  }
  if (!found) {
    std::cerr << "zentrak-host: " << *origin << " is not in " << config.Path() << "\n";
    return 1;
  }
  std::string log_error;
  if (zentrak::host::OpenLog(zentrak::host::DefaultLogPath(), log_error))
    zentrak::host::Log("forgot " + *origin + " (zentrak-host --forget)");
  std::cout << "forgot " << *origin << "\n";
  return 0;
}

// Whether something accepts connections at 127.0.0.1:port (another host).
bool PortAnswers(uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool answers = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(fd);
  return answers;
}

// Runs a command (searched in PATH) and gives its exit status, or -1 when it cannot run.
int RunCommand(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  int status = 0;
  GError* error = nullptr;
  if (!g_spawn_sync(nullptr, argv.data(), nullptr,
                    GSpawnFlags(G_SPAWN_SEARCH_PATH | G_SPAWN_STDOUT_TO_DEV_NULL | G_SPAWN_STDERR_TO_DEV_NULL), nullptr,
                    nullptr, nullptr, nullptr, &status, &error)) {
    g_error_free(error);
    return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// --autostart, the desktop's autostart entry: the host must run once in the session, whoever
// starts it. Where a systemd user manager runs, the user unit is the one host: this starts it
// (a no-op when it runs) with the session's display, and a unit the user disabled stays off.
// Elsewhere this process serves, unless another host holds the port or the session's lock.
// Returns the exit status when this process should not serve; otherwise takes the lock, which
// lasts until the process ends, and returns nothing.
std::optional<int> AutostartElsewhere(uint16_t port) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  std::string runtime_dir = runtime && *runtime ? runtime : "";
  if (!runtime_dir.empty() && ::access((runtime_dir + "/systemd/private").c_str(), F_OK) == 0) {
    int enabled = RunCommand({"systemctl", "--user", "--quiet", "is-enabled", "zentrak-host.service"});
    if (enabled == 0) {
      RunCommand({"systemctl", "--user", "import-environment", "DISPLAY", "WAYLAND_DISPLAY", "XAUTHORITY"});
      int started = RunCommand({"systemctl", "--user", "start", "zentrak-host.service"});
      return started == 0 ? 0 : 1;
    }
    if (enabled == 1) return 0;  // disabled by the user
    // No systemctl: serve here.
  }
  if (PortAnswers(port)) return 0;
  if (!runtime_dir.empty()) {
    std::string lock = runtime_dir + "/zentrak-host-" + std::to_string(port) + ".lock";
    int fd = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    // Kept open, and so locked, for the life of the process.
    if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0) return 0;
  }
  return std::nullopt;
}

// GLib and GTK report a missing session bus (no D-Bus in a bare X session, a container, a
// service) as warnings, though the host needs no bus: the accessibility bridge ("dbind") looks
// for one, and dconf, GTK's settings store, tries to write the file chooser's settings through
// it. Those reports are dropped; everything else is written as GLib would.
GLogWriterOutput QuietWithoutBus(GLogLevelFlags level, const GLogField* fields, gsize n, gpointer) {
  if (!(level & (G_LOG_LEVEL_ERROR | G_LOG_LEVEL_CRITICAL))) {
    std::string_view domain, message;
    for (gsize i = 0; i < n; ++i) {
      if (!fields[i].value) continue;
      const char* text = static_cast<const char*>(fields[i].value);
      std::string_view value = fields[i].length < 0 ? std::string_view(text) : std::string_view(text, fields[i].length);
      if (std::strcmp(fields[i].key, "GLIB_DOMAIN") == 0) domain = value;
      if (std::strcmp(fields[i].key, "MESSAGE") == 0) message = value;
    }
    if (domain == "dconf" || domain == "dbind" || domain == "atk-bridge") return G_LOG_WRITER_HANDLED;
    for (std::string_view bus : {"D-Bus", "DBus", "dbus", "accessibility bus"})
      if (message.find(bus) != std::string_view::npos) return G_LOG_WRITER_HANDLED;
  }
  return g_log_writer_default(level, fields, n, nullptr);
}

void Usage(std::ostream& out) {
  out << "usage: zentrak-host [options]\n"
         "       zentrak-host --stdio\n"
         "       zentrak-host --sites | --forget ORIGIN | --version\n"
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
         "  --verbose              also print each request (its op and how long it took) on standard error\n"
         "  --autostart            for the desktop's autostart entry: start the systemd user service, or\n"
         "                         serve here; exit quietly when a host already runs\n"
         "  --stdio                answer JSON requests, one per line, on standard input and output\n"
         "  --sites                list the origins you allowed or blocked, with when\n"
         "  --forget ORIGIN        forget your answer about ORIGIN: its pages are asked again\n"
         "  --version              print the version\n"
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

GMainLoop* g_loop = nullptr;
bool g_gtk = false;

// SIGINT and SIGTERM stop the host. A window of a call (the file chooser, the preview, a message
// box) runs a nested loop, inside which the signal arrives: those windows are closed as the
// user would close them, so that their calls return and the main loop can end.
gboolean Quit(gpointer) {
  g_main_loop_quit(g_loop);
  if (g_gtk) {
    GList* windows = gtk_window_list_toplevels();
    for (GList* w = windows; w; w = w->next) g_object_ref(w->data);
    for (GList* w = windows; w; w = w->next) {
      if (gtk_widget_get_visible(GTK_WIDGET(w->data))) gtk_window_close(GTK_WINDOW(w->data));
      g_object_unref(w->data);
    }
    g_list_free(windows);
  }
  return G_SOURCE_CONTINUE;
}

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  g_log_set_writer_func(QuietWithoutBus, nullptr, nullptr);
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
  bool autostart = false;
  enum class Command { kServe, kSites, kForget } command = Command::kServe;
  std::string forget;

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
    if (arg == "--version") {
      std::cout << "zentrak-host " << ZENTRAK_VERSION << "\n";
      return 0;
    }
    if (arg == "--sites") {
      command = Command::kSites;
    } else if (arg == "--forget" && i + 1 < argc) {
      command = Command::kForget;
      forget = argv[++i];
    } else if (arg == "--verbose") {
      zentrak::host::SetVerbose(true);
    } else if (arg == "--autostart") {
      autostart = true;
    } else if (arg == "--port") {
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
  if (command == Command::kSites) return ListSites(config);
  if (command == Command::kForget) return ForgetSite(config, forget);
  HostSettings settings;
  try {
    settings = config.Load();
  } catch (const zentrak::host::ConfigError& e) {
    std::cerr << "zentrak-host: " << e.what() << "\n";
    std::string log_error;
    if (zentrak::host::OpenLog(zentrak::host::DefaultLogPath(), log_error)) zentrak::host::Log(std::string("error: ") + e.what());
    return 1;
  }
  if (port) settings.port = static_cast<uint16_t>(*port);
  if (autostart && settings.port != 0) {
    if (auto status = AutostartElsewhere(settings.port)) return *status;
  }
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
    settings.run_allowed_origins.push_back(o);
  }

  std::string log_error;
  if (!zentrak::host::OpenLog(zentrak::host::DefaultLogPath(), log_error))
    std::cerr << "zentrak-host: no log: " << log_error << "\n";


  // GTK serves the origin question and the objects' dialogs. Without a display there is no one
  // to ask, and unknown origins are refused.
  auto set = [](const char* name) { return std::getenv(name) && *std::getenv(name); };
  bool have_display = set("DISPLAY") || set("WAYLAND_DISPLAY");
  bool gtk = have_display && gtk_init_check(nullptr, nullptr);
  std::unique_ptr<zentrak::host::OriginPrompter> prompter;
  if (gtk && prompt) prompter = zentrak::host::MakeGtkPrompter();

  std::signal(SIGPIPE, SIG_IGN);
  zentrak::host::HttpServer server(settings, &config, std::move(prompter));
  std::string error;
  if (!server.Listen(error)) {
    std::cerr << "zentrak-host: " << error << "\n";
    zentrak::host::Log("error: " + error);
    return 1;
  }
  zentrak::host::Log("started " ZENTRAK_VERSION " on port " + std::to_string(server.Port()) +
                     (gtk ? "" : have_display ? " (the display cannot be opened: unknown origins are refused)"
                                              : " (no display: unknown origins are refused)"));
  std::cout << "zentrak-host: listening on http://127.0.0.1:" << server.Port() << "/ (demo: http://127.0.0.1:"
            << server.Port() << "/demo)" << std::endl;

  GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
  g_loop = loop;
  g_gtk = gtk;
  g_unix_signal_add(SIGINT, Quit, nullptr);
  g_unix_signal_add(SIGTERM, Quit, nullptr);
  g_main_loop_run(loop);
  // Stopping releases every page's objects; a LocalDB closes its database.
  server.EndAllSessions();
  zentrak::host::Log("stopped");
  g_main_loop_unref(loop);
  return 0;
}
