// Modal windows on Linux: a GTK 3 top-level window whose RunModal runs a nested GMainLoop on the
// default main context, the one the host's requests are served on.
#include "platform/window.h"

#include <gtk/gtk.h>

#include "base/exception.h"
#include "platform/codepage.h"
#include "platform/posix/gtk_present.h"

namespace zentrak::platform {
namespace {

class GtkModalWindow : public ModalWindow {
 public:
  GtkModalWindow(const std::string& title, int width, int height, std::function<void()> on_close)
      : on_close_(std::move(on_close)) {
    window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    g_object_ref_sink(window_);
    gtk_window_set_title(GTK_WINDOW(window_), AnsiToUtf8(title).c_str());
    gtk_window_set_default_size(GTK_WINDOW(window_), width, height);
    gtk_window_set_modal(GTK_WINDOW(window_), TRUE);
    gtk_window_set_keep_above(GTK_WINDOW(window_), TRUE);
    // The close button hides the window and ends the loop instead of destroying the widget,
    // which this object owns.
    g_signal_connect(window_, "delete-event", G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer self) -> gboolean {
                       static_cast<GtkModalWindow*>(self)->Close();
                       return TRUE;
                     }),
                     this);
  }

  ~GtkModalWindow() override {
    Close();
    gtk_widget_destroy(window_);
    g_object_unref(window_);
  }

  void RunModal() override {
    loop_ = g_main_loop_new(nullptr, FALSE);
    gtk_widget_show_all(window_);
    PresentWithFocus(GTK_WINDOW(window_));
    g_main_loop_run(loop_);
    g_main_loop_unref(loop_);
    loop_ = nullptr;
  }

  void Close() override {
    if (!loop_ || !g_main_loop_is_running(loop_)) return;
    gtk_widget_hide(window_);
    if (on_close_) on_close_();
    g_main_loop_quit(loop_);
  }

  void* NativeHandle() override { return window_; }

 private:
  GtkWidget* window_ = nullptr;
  GMainLoop* loop_ = nullptr;
  std::function<void()> on_close_;
};

}  // namespace

std::unique_ptr<ModalWindow> CreateModalWindow(const std::string& title, int width, int height,
                                               std::function<void()> on_close) {
  if (!gtk_init_check(nullptr, nullptr)) throw Exception("No window can be shown: there is no display");
  return std::make_unique<GtkModalWindow>(title, width, height, std::move(on_close));
}

}  // namespace zentrak::platform
