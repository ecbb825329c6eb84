// The file-open dialog on Linux: ZENTRAK_FILE_CHOOSER when it is set, otherwise GTK 3's file
// chooser. GTK is initialised only when a dialog is shown, so nothing needs a display until then.
#include "platform/dialogs.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#ifdef ZENTRAK_HAVE_GTK
#include "platform/posix/gtk_present.h"
#endif

#include "base/exception.h"
#include "base/text.h"
#include "platform/codepage.h"
#include "platform/env.h"
#include "platform/files.h"

extern char** environ;

namespace zentrak::platform {
namespace {

// Closes a descriptor when it leaves scope.
class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor() { Reset(); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int Get() const { return fd_; }
  void Reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

// Runs the chooser command and collects what it prints. Returns false for a cancellation.
bool RunChooserCommand(const std::string& command, bool multiple, std::vector<std::string>& paths) {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) {
    throw Exception(std::string("Cannot start ZENTRAK_FILE_CHOOSER: ") + std::strerror(errno));
  }
  Descriptor read_end(ends[0]), write_end(ends[1]);

  // The command's environment: ours, with ZENTRAK_FILE_CHOOSER_MULTIPLE set to the mode.
  std::string mode = std::string("ZENTRAK_FILE_CHOOSER_MULTIPLE=") + (multiple ? "1" : "0");
  std::vector<char*> env;
  for (char** e = environ; *e; ++e) {
    if (std::strncmp(*e, "ZENTRAK_FILE_CHOOSER_MULTIPLE=", 30) != 0) env.push_back(*e);
  }
  env.push_back(mode.data());
  env.push_back(nullptr);

  // Standard input is /dev/null: the host's own standard input may carry its protocol.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, write_end.Get(), 1);
  std::string shell_command = command;
  char sh[] = "/bin/sh", dash_c[] = "-c";
  char* argv[] = {sh, dash_c, shell_command.data(), nullptr};
  pid_t child = 0;
  int spawned = ::posix_spawn(&child, "/bin/sh", &actions, nullptr, argv, env.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    throw Exception(std::string("Cannot start ZENTRAK_FILE_CHOOSER: ") + std::strerror(spawned));
  }
  write_end.Reset();

  std::string output;
  char buffer[4096];
  for (;;) {
    ssize_t got = ::read(read_end.Get(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    output.append(buffer, static_cast<size_t>(got));
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return false;

  paths.clear();
  size_t start = 0;
  while (start < output.size()) {
    size_t end = output.find('\n', start);
    if (end == std::string::npos) end = output.size();
    std::string line = output.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    paths.push_back(FullPath(FileNameToAnsi(line)));
    if (!multiple) break;
  }
  return !paths.empty();
}

#ifdef ZENTRAK_HAVE_GTK
bool RunGtkDialog(bool multiple, std::vector<std::string>& paths) {
  if (!gtk_init_check(nullptr, nullptr)) {
    throw Exception("No display for the file dialog: set ZENTRAK_FILE_CHOOSER");
  }
  GtkWidget* dialog = gtk_file_chooser_dialog_new(nullptr, nullptr, GTK_FILE_CHOOSER_ACTION_OPEN, "_Cancel",
                                                  GTK_RESPONSE_CANCEL, "_Open", GTK_RESPONSE_ACCEPT, nullptr);
  GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
  gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
  gtk_window_set_resizable(GTK_WINDOW(dialog), TRUE);
  gtk_file_chooser_set_local_only(chooser, TRUE);
  gtk_file_chooser_set_select_multiple(chooser, multiple ? TRUE : FALSE);
  gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_ACCEPT);
  // The dialog has no parent window of ours (the page's browser is another program), so it names
  // whom the user answers and stays above the browser, with the focus.
  const std::string& requester = ScopedDialogRequester::Current();
  if (!requester.empty()) {
    std::string title = (multiple ? "Choose files for " : "Choose a file for ") + requester;
    gtk_window_set_title(GTK_WINDOW(dialog), title.c_str());
  }
  gtk_window_set_keep_above(GTK_WINDOW(dialog), TRUE);
  PresentWithFocus(GTK_WINDOW(dialog));

  // gtk_dialog_run runs a nested main loop, so the host's other sources keep being served.
  bool confirmed = gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_ACCEPT;
  paths.clear();
  if (confirmed) {
    GSList* names = gtk_file_chooser_get_filenames(chooser);
    for (GSList* n = names; n; n = n->next) {
      paths.push_back(FileNameToAnsi(static_cast<const char*>(n->data)));
    }
    g_slist_free_full(names, g_free);
  }
  gtk_widget_destroy(dialog);
  // Let the window disappear before the call returns.
  while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
  return confirmed && !paths.empty();
}
#endif

}  // namespace

bool ChooseFilesToOpen(bool multiple, std::vector<std::string>& paths) {
  paths.clear();
  std::string command = GetEnvironment("ZENTRAK_FILE_CHOOSER");
  if (!command.empty()) return RunChooserCommand(command, multiple, paths);
#ifdef ZENTRAK_HAVE_GTK
  return RunGtkDialog(multiple, paths);
#else
  throw Exception("No display for the file dialog: set ZENTRAK_FILE_CHOOSER");
#endif
}

void ShowMessageBox(const std::string& text, const std::string& caption) {
#ifdef ZENTRAK_HAVE_GTK
  if (gtk_init_check(nullptr, nullptr)) {
    std::string utf8_text = WideToStandardUtf8(AnsiToWide(text));
    GtkWidget* box = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_ERROR, GTK_BUTTONS_OK, "%s",
                                            utf8_text.c_str());
    gtk_window_set_title(GTK_WINDOW(box), WideToStandardUtf8(AnsiToWide(caption)).c_str());
    gtk_window_set_keep_above(GTK_WINDOW(box), TRUE);
    gtk_dialog_run(GTK_DIALOG(box));  // a nested main loop, as for the file dialog
    gtk_widget_destroy(box);
    while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
    return;
  }
#endif
  std::string line = caption + ": " + text + "\n";
  ssize_t ignored = ::write(STDERR_FILENO, line.data(), line.size());
  (void)ignored;
}

}  // namespace zentrak::platform
