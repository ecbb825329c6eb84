// Bringing a GTK window of the host to the front with the keyboard focus. The host's windows
// have no parent of ours (the page's browser is another program), so each asks for the focus
// itself.
#pragma once

#include <gtk/gtk.h>
#ifdef GDK_WINDOWING_X11
#include <gdk/gdkx.h>
#endif

namespace zentrak::platform {

// Shows window and asks the window manager for the focus. Focus-stealing prevention compares the
// request's time with the user's last input, so on X11 the request carries the X server's
// current time rather than "now", as GTK has no event to take it from.
inline void PresentWithFocus(GtkWindow* window) {
  gtk_widget_realize(GTK_WIDGET(window));
  guint32 stamp = GDK_CURRENT_TIME;
#ifdef GDK_WINDOWING_X11
  GdkWindow* gdk = gtk_widget_get_window(GTK_WIDGET(window));
  if (gdk && GDK_IS_X11_WINDOW(gdk)) stamp = gdk_x11_get_server_time(gdk);
#endif
  gtk_window_present_with_time(window, stamp);
}

}  // namespace zentrak::platform
