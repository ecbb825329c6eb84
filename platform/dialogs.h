// The platform's modal file-open dialog.
//
// On Linux it is a GtkFileChooserDialog run on the calling thread, which must be the thread of
// the GLib main context (the host's main thread); it runs a nested main loop until it closes.
// For unattended use the environment variable ZENTRAK_FILE_CHOOSER may name a shell command
// (run through /bin/sh -c) that takes the dialog's place, with or without a display:
//   - it prints the chosen paths on standard output, one per line;
//   - an exit status other than 0, or no path at all, means the user cancelled;
//   - ZENTRAK_FILE_CHOOSER_MULTIPLE is set to 1 for it when several files may be chosen and to 0
//     otherwise; when several may not, only the first path counts;
//   - its standard input is /dev/null and its standard error is the caller's.
// Relative paths it prints resolve against the current folder. On Windows the dialog is the
// common file-open dialog.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace zentrak::platform {

// Shows the file-open dialog with the platform's default title, folder and filter, the
// read-only check box hidden and the window resizable; several files may be chosen when
// `multiple` is true. Returns false when the user cancels. Otherwise returns true and paths
// holds the full path of every chosen file, in the order the dialog reports them, as 8-bit text
// in the system code page.
// Throws zentrak::Exception when no dialog can be shown (on Linux: no display and no
// ZENTRAK_FILE_CHOOSER, or the command cannot be started).
bool ChooseFilesToOpen(bool multiple, std::vector<std::string>& paths);

// Who is asking for the dialogs of the calls made while it lives: a frame that serves several
// callers (the host, for pages of many origins) names the caller, and the file dialog's title
// says whom the user answers ("Choose a file for https://shop.example"). Nested scopes restore
// the outer requester. With none, dialogs keep the platform's default title.
// Calls run on the one apartment thread, so one slot serves.
class ScopedDialogRequester {
 public:
  explicit ScopedDialogRequester(std::string requester) : previous_(std::exchange(Slot(), std::move(requester))) {}
  ~ScopedDialogRequester() { Slot() = std::move(previous_); }
  ScopedDialogRequester(const ScopedDialogRequester&) = delete;
  ScopedDialogRequester& operator=(const ScopedDialogRequester&) = delete;

  // The innermost requester, or empty.
  static const std::string& Current() { return Slot(); }

 private:
  static std::string& Slot() {
    static std::string current;
    return current;
  }
  std::string previous_;
};

// Shows text in a modal message box with an OK button and a stop icon, captioned caption (both
// 8-bit text in the system code page). On Linux it is a GTK message dialog when a display is
// present; otherwise the text goes to standard error, the host's log, as "caption: text".
void ShowMessageBox(const std::string& text, const std::string& caption);

}  // namespace zentrak::platform
