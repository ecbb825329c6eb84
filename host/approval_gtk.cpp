// The origin question as a GTK message window. Block is the default button, so that a stray
// Enter never lets a page in; the window stays above others so that the user sees it while the
// page waits for the answer.
#include <gtk/gtk.h>

#include "host/approval.h"

namespace zentrak::host {

std::string ApprovalQuestion(const std::string& origin) {
  return "Allow " + origin + " to use Zentrak on this computer?";
}

std::string ApprovalExplanation(const std::string& origin) {
  return "If you allow it, pages of " + origin +
         " can keep databases in your profile, print on your printers, and read files that you pick "
         "or that you can read.\n\nYour answer is kept. To change it later, open the host's sites page "
         "(/sites) or run \"zentrak-host --forget " + origin + "\".";
}

namespace {

struct Pending {
  std::function<void(ApprovalAnswer)> done;
};

void OnResponse(GtkDialog* dialog, gint response, gpointer data) {
  auto* pending = static_cast<Pending*>(data);
  ApprovalAnswer answer = ApprovalAnswer::kDismissed;
  if (response == GTK_RESPONSE_ACCEPT) answer = ApprovalAnswer::kAllow;
  if (response == GTK_RESPONSE_REJECT) answer = ApprovalAnswer::kBlock;
  auto done = std::move(pending->done);
  delete pending;
  gtk_widget_destroy(GTK_WIDGET(dialog));
  done(answer);
}

class GtkPrompter : public OriginPrompter {
 public:
  void Ask(const std::string& origin, std::function<void(ApprovalAnswer)> done) override {
    GtkWidget* dialog = gtk_message_dialog_new(nullptr, GTK_DIALOG_DESTROY_WITH_PARENT, GTK_MESSAGE_QUESTION,
                                               GTK_BUTTONS_NONE, "%s", ApprovalQuestion(origin).c_str());
    gtk_message_dialog_format_secondary_text(
        GTK_MESSAGE_DIALOG(dialog), "%s",
        ApprovalExplanation(origin).c_str());
    gtk_dialog_add_buttons(GTK_DIALOG(dialog), "_Block", GTK_RESPONSE_REJECT, "_Allow", GTK_RESPONSE_ACCEPT,
                           nullptr);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_REJECT);
    gtk_window_set_title(GTK_WINDOW(dialog), "Zentrak");
    gtk_window_set_keep_above(GTK_WINDOW(dialog), TRUE);
    gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
    g_signal_connect(dialog, "response", G_CALLBACK(OnResponse), new Pending{std::move(done)});
    gtk_widget_show_all(dialog);
    gtk_window_present(GTK_WINDOW(dialog));
  }
};

}  // namespace

std::unique_ptr<OriginPrompter> MakeGtkPrompter() { return std::make_unique<GtkPrompter>(); }

}  // namespace zentrak::host
