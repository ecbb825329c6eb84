// The preview window on Linux: a GTK 3 modal window (platform/window.h) with the top panel of the
// printer list and the print button, and below it the document, drawn with poppler-glib into a
// scrolled drawing area. Every page is shown, one below the other with a gap, scaled so that the
// widest page fills the width; the wheel and the keys scroll, Ctrl+wheel zooms.
//
// The engine of the form prints; this window reads the same file for display only, while the
// file exists (it is deleted when the window closes).
#include <gtk/gtk.h>
#include <poppler.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "base/exception.h"
#include "base/text.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/window.h"
#include "print/preview_form.h"

namespace zentrak {
namespace {

// The window's texts, in UTF-8.
constexpr char kCaption[] = "\xE6\x89\x93\xE5\x8D\xB0\xE9\xA2\x84\xE8\xA7\x88";  // 打印预览, "print preview"
constexpr char kPrintButton[] = "\xE6\x89\x93\xE5\x8D\xB0";                     // 打印, "print"
constexpr char kInitialPrinterText[] = "Printers";

// The form's layout in pixels (at 96 dots per inch), as the Windows form has it.
constexpr int kWidth = 870, kHeight = 500, kPanelHeight = 41;
constexpr int kListLeft = 16, kListTop = 8, kListWidth = 233, kListHeight = 20;
constexpr int kButtonLeft = 256, kButtonTop = 5, kButtonWidth = 75, kButtonHeight = 25;

// Around and between pages.
constexpr double kGap = 10;
constexpr double kMinZoom = 0.25, kMaxZoom = 8, kZoomStep = 1.15;

std::string ToGtk(const std::string& ansi) { return WideToStandardUtf8(platform::AnsiToWide(ansi)); }
std::string FromGtk(const char* utf8) { return platform::WideToAnsi(Utf8ToWide(utf8 ? utf8 : "")); }

class GtkPreviewView final : public PreviewView {
 public:
  explicit GtkPreviewView(PreviewHandlers handlers) : handlers_(std::move(handlers)) {
    window_ = platform::CreateModalWindow(platform::Utf8ToAnsi(kCaption), kWidth, kHeight, [this] {
      if (handlers_.closed) handlers_.closed();
    });
    top_ = GTK_WIDGET(window_->NativeHandle());

    GtkWidget* panel = gtk_fixed_new();
    gtk_widget_set_size_request(panel, -1, kPanelHeight);
    combo_ = gtk_combo_box_text_new_with_entry();
    GtkWidget* entry = gtk_bin_get_child(GTK_BIN(combo_));
    gtk_entry_set_width_chars(GTK_ENTRY(entry), 1);  // the width below decides
    gtk_entry_set_text(GTK_ENTRY(entry), kInitialPrinterText);
    gtk_widget_set_size_request(combo_, kListWidth, kListHeight);
    gtk_fixed_put(GTK_FIXED(panel), combo_, kListLeft, kListTop);
    GtkWidget* button = gtk_button_new_with_label(kPrintButton);
    gtk_widget_set_size_request(button, kButtonWidth, kButtonHeight);
    gtk_fixed_put(GTK_FIXED(panel), button, kButtonLeft, kButtonTop);
    g_signal_connect(button, "clicked", G_CALLBACK(+[](GtkButton*, gpointer self) {
                       auto* view = static_cast<GtkPreviewView*>(self);
                       if (view->handlers_.print_clicked) view->handlers_.print_clicked();
                     }),
                     this);

    scrolled_ = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scrolled_), GTK_POLICY_AUTOMATIC, GTK_POLICY_AUTOMATIC);
    area_ = gtk_drawing_area_new();
    gtk_widget_set_can_focus(area_, TRUE);
    gtk_widget_add_events(area_, GDK_SCROLL_MASK | GDK_SMOOTH_SCROLL_MASK | GDK_BUTTON_PRESS_MASK);
    gtk_container_add(GTK_CONTAINER(scrolled_), area_);
    g_signal_connect(area_, "draw", G_CALLBACK(OnDraw), this);
    g_signal_connect(area_, "scroll-event", G_CALLBACK(OnScroll), this);
    g_signal_connect(area_, "button-press-event", G_CALLBACK(+[](GtkWidget* area, GdkEvent*, gpointer) -> gboolean {
                       gtk_widget_grab_focus(area);
                       return FALSE;
                     }),
                     nullptr);
    g_signal_connect(scrolled_, "size-allocate", G_CALLBACK(OnResize), this);
    g_signal_connect(top_, "key-press-event", G_CALLBACK(OnKey), this);
    g_signal_connect(Vertical(), "changed", G_CALLBACK(OnRangeChanged), this);

    GtkWidget* column = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_box_pack_start(GTK_BOX(column), panel, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(column), scrolled_, TRUE, TRUE, 0);
    gtk_container_add(GTK_CONTAINER(top_), column);
  }

  ~GtkPreviewView() override {
    // The widgets go with the window; none of their handlers may reach this object meanwhile.
    g_signal_handlers_disconnect_by_data(top_, this);
    g_signal_handlers_disconnect_by_data(scrolled_, this);
    g_signal_handlers_disconnect_by_data(area_, this);
    g_signal_handlers_disconnect_by_data(Vertical(), this);
    window_.reset();
    if (document_) g_object_unref(document_);
  }

  void SetPrinterChoices(const std::vector<std::string>& items, int32_t selected) override {
    gtk_combo_box_text_remove_all(GTK_COMBO_BOX_TEXT(combo_));  // the entry keeps its text
    for (const std::string& item : items) {
      gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(combo_), ToGtk(item).c_str());
    }
    if (selected >= 0 && static_cast<size_t>(selected) < items.size()) {
      gtk_combo_box_set_active(GTK_COMBO_BOX(combo_), selected);
    }
  }

  std::string PrinterText() override {
    return FromGtk(gtk_entry_get_text(GTK_ENTRY(gtk_bin_get_child(GTK_BIN(combo_)))));
  }

  void ShowDocument(const std::string& file) override {
    if (document_) g_object_unref(document_);
    document_ = nullptr;
    pages_.clear();
    GError* error = nullptr;
    gchar* uri = g_filename_to_uri(platform::AnsiToFileName(file).c_str(), nullptr, &error);
    if (uri) document_ = poppler_document_new_from_file(uri, nullptr, &error);
    g_free(uri);
    if (!document_) {
      failure_ = error ? error->message : "unknown reason";
    } else {
      for (int i = 0, n = poppler_document_get_n_pages(document_); i < n; ++i) {
        PopplerPage* page = poppler_document_get_page(document_, i);
        Size size;
        if (page) {
          poppler_page_get_size(page, &size.width, &size.height);
          g_object_unref(page);
        }
        pages_.push_back(size);
      }
    }
    if (error) g_error_free(error);
    UpdateSize();
  }

  void RunModal() override {
    gtk_widget_grab_focus(area_);
    window_->RunModal();
  }

  // A message box over the preview, run in a nested loop like the preview itself.
  void ShowError(const std::string& text) override {
    GtkWidget* box = gtk_message_dialog_new(GTK_WINDOW(top_), GTK_DIALOG_MODAL, GTK_MESSAGE_ERROR, GTK_BUTTONS_OK,
                                            "%s", ToGtk(text).c_str());
    gtk_window_set_title(GTK_WINDOW(box), kCaption);
    gtk_window_set_keep_above(GTK_WINDOW(box), TRUE);
    gtk_dialog_run(GTK_DIALOG(box));
    gtk_widget_destroy(box);
  }

 private:
  struct Size {
    double width = 0, height = 0;
  };

  GtkAdjustment* Vertical() { return gtk_scrolled_window_get_vadjustment(GTK_SCROLLED_WINDOW(scrolled_)); }

  // Points to pixels: the widest page fills the width at zoom 1.
  double Scale() const {
    double widest = 0;
    for (const Size& s : pages_) widest = std::max(widest, s.width);
    if (widest <= 0 || fit_width_ <= 2 * kGap) return 1;
    return (fit_width_ - 2 * kGap) / widest * zoom_;
  }

  // Sizes the drawing area for the pages at the current scale; the scrolled window scrolls it.
  void UpdateSize() {
    const double scale = Scale();
    double width = 0, height = kGap;
    for (const Size& s : pages_) {
      width = std::max(width, s.width * scale);
      height += s.height * scale + kGap;
    }
    int request_width = zoom_ > 1 ? static_cast<int>(std::ceil(width + 2 * kGap)) : -1;
    gtk_widget_set_size_request(area_, request_width, static_cast<int>(std::ceil(height)));
    gtk_widget_queue_draw(area_);
  }

  static void OnResize(GtkWidget*, GdkRectangle* allocation, gpointer self) {
    auto* view = static_cast<GtkPreviewView*>(self);
    if (allocation->width == view->fit_width_) return;
    view->fit_width_ = allocation->width;
    view->UpdateSize();
  }

  static gboolean OnDraw(GtkWidget* area, cairo_t* cr, gpointer self) {
    auto* view = static_cast<GtkPreviewView*>(self);
    const double area_width = gtk_widget_get_allocated_width(area);
    cairo_set_source_rgb(cr, 0.5, 0.5, 0.5);
    cairo_paint(cr);
    if (!view->document_) {
      if (view->failure_.empty()) return TRUE;
      cairo_set_source_rgb(cr, 1, 1, 1);
      cairo_move_to(cr, kGap * 2, kGap * 3);
      std::string text = "The document cannot be shown: " + view->failure_;
      cairo_show_text(cr, text.c_str());
      return TRUE;
    }
    double clip_x1, clip_y1, clip_x2, clip_y2;
    cairo_clip_extents(cr, &clip_x1, &clip_y1, &clip_x2, &clip_y2);
    const double scale = view->Scale();
    double top = kGap;
    for (size_t i = 0; i < view->pages_.size() && top < clip_y2; ++i) {
      const double width = view->pages_[i].width * scale, height = view->pages_[i].height * scale;
      const double left = std::max(kGap, (area_width - width) / 2);
      if (top + height >= clip_y1) {
        cairo_save(cr);
        cairo_rectangle(cr, left, top, width, height);
        cairo_set_source_rgb(cr, 1, 1, 1);
        cairo_fill_preserve(cr);
        cairo_clip(cr);
        cairo_translate(cr, left, top);
        cairo_scale(cr, scale, scale);
        if (PopplerPage* page = poppler_document_get_page(view->document_, static_cast<int>(i))) {
          poppler_page_render(page, cr);
          g_object_unref(page);
        }
        cairo_restore(cr);
      }
      top += height + kGap;
    }
    return TRUE;
  }

  // Ctrl+wheel zooms, keeping the same part of the document in view; the plain wheel scrolls.
  static gboolean OnScroll(GtkWidget*, GdkEventScroll* event, gpointer self) {
    if (!(event->state & GDK_CONTROL_MASK)) return FALSE;
    auto* view = static_cast<GtkPreviewView*>(self);
    double direction = 0;
    if (event->direction == GDK_SCROLL_UP) direction = -1;
    if (event->direction == GDK_SCROLL_DOWN) direction = 1;
    if (event->direction == GDK_SCROLL_SMOOTH) direction = event->delta_y;
    if (direction == 0) return TRUE;
    view->Zoom(direction < 0 ? view->zoom_ * kZoomStep : view->zoom_ / kZoomStep);
    return TRUE;
  }

  void Zoom(double zoom) {
    zoom = std::clamp(zoom, kMinZoom, kMaxZoom);
    if (zoom == zoom_) return;
    GtkAdjustment* v = Vertical();
    const double upper = gtk_adjustment_get_upper(v);
    pending_position_ = upper > 0 ? gtk_adjustment_get_value(v) / upper : 0;
    zoom_ = zoom;
    UpdateSize();
  }

  static void OnRangeChanged(GtkAdjustment* adjustment, gpointer self) {
    auto* view = static_cast<GtkPreviewView*>(self);
    if (view->pending_position_ < 0) return;
    const double position = view->pending_position_;
    view->pending_position_ = -1;
    gtk_adjustment_set_value(adjustment, position * gtk_adjustment_get_upper(adjustment));
  }

  // Keys scroll the document while it (or nothing) has the focus; the printer list and the
  // button keep theirs. Page Up and Page Down always scroll.
  static gboolean OnKey(GtkWidget* window, GdkEventKey* event, gpointer self) {
    auto* view = static_cast<GtkPreviewView*>(self);
    GtkAdjustment* v = view->Vertical();
    GtkAdjustment* h = gtk_scrolled_window_get_hadjustment(GTK_SCROLLED_WINDOW(view->scrolled_));
    GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(window));
    const bool typing = focus != nullptr && focus != view->area_;
    const double page = gtk_adjustment_get_page_increment(v);
    const double step = std::max(40.0, gtk_adjustment_get_step_increment(v));
    auto move = [](GtkAdjustment* a, double by) { gtk_adjustment_set_value(a, gtk_adjustment_get_value(a) + by); };
    switch (event->keyval) {
      case GDK_KEY_Page_Up:
      case GDK_KEY_KP_Page_Up:
        move(v, -page);
        return TRUE;
      case GDK_KEY_Page_Down:
      case GDK_KEY_KP_Page_Down:
        move(v, page);
        return TRUE;
      default:
        break;
    }
    if (typing) return FALSE;
    switch (event->keyval) {
      case GDK_KEY_Up:
        move(v, -step);
        return TRUE;
      case GDK_KEY_Down:
        move(v, step);
        return TRUE;
      case GDK_KEY_Left:
        move(h, -step);
        return TRUE;
      case GDK_KEY_Right:
        move(h, step);
        return TRUE;
      case GDK_KEY_space:
        move(v, (event->state & GDK_SHIFT_MASK) ? -page : page);
        return TRUE;
      case GDK_KEY_Home:
        gtk_adjustment_set_value(v, gtk_adjustment_get_lower(v));
        return TRUE;
      case GDK_KEY_End:
        gtk_adjustment_set_value(v, gtk_adjustment_get_upper(v));
        return TRUE;
      default:
        return FALSE;
    }
  }

  PreviewHandlers handlers_;
  std::unique_ptr<platform::ModalWindow> window_;
  GtkWidget* top_ = nullptr;
  GtkWidget* combo_ = nullptr;
  GtkWidget* scrolled_ = nullptr;
  GtkWidget* area_ = nullptr;
  PopplerDocument* document_ = nullptr;
  std::string failure_;  // why the document cannot be shown
  std::vector<Size> pages_;
  int fit_width_ = 0;
  double zoom_ = 1;
  double pending_position_ = -1;  // where to scroll to once the zoomed size is known
};

}  // namespace

std::unique_ptr<PreviewView> CreatePlatformPreviewView(PreviewHandlers handlers) {
  if (!gtk_init_check(nullptr, nullptr)) throw Exception("No display for the preview window");
  return std::make_unique<GtkPreviewView>(std::move(handlers));
}

}  // namespace zentrak
