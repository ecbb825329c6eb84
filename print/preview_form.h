// TFormPreview_Foxit, PrintServer's preview window: the document of a preview call in an engine of
// its own, a list of virtual printer names and a print button the user may press as often as
// wanted. The form's behaviour is here, written once; what the user sees is a PreviewView, a
// GTK 3 window on Linux (print/preview_view_gtk.cpp) and a Win32 window on Windows
// (print/preview_view_win32.cpp).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "print/pdf_engine.h"

namespace zentrak {

class TPrintServer;

// What the form asks of its window. Texts are 8-bit text in the system code page.
class PreviewView {
 public:
  virtual ~PreviewView() = default;

  // Puts items in the printer list and selects items[selected]; with -1 nothing is selected and
  // the list keeps its text (initially "Printers").
  virtual void SetPrinterChoices(const std::vector<std::string>& items, int32_t selected) = 0;
  // The list's text: the selected name, whatever the user typed, or "Printers".
  virtual std::string PrinterText() = 0;
  // Gives the document area to the engine when the engine has a view of its own (the outside
  // PDF control on Windows); a window that draws the document itself ignores it.
  virtual void HostEngine(PdfEngine& engine) { (void)engine; }
  // Shows the document of file (8-bit, in the platform's own form) in the document area.
  virtual void ShowDocument(const std::string& file) = 0;
  // Shows the window in front with the focus and serves the main loop until the user (or Close)
  // closes it; the close handler has run when it returns.
  virtual void RunModal() = 0;
  // Tells the user of an error; the window stays open.
  virtual void ShowError(const std::string& text) = 0;
};

// The form's handlers, which the window calls from its loop.
struct PreviewHandlers {
  std::function<void()> print_clicked;  // the button "打印"
  std::function<void()> closed;         // however the user closed the window
};

// Makes the window, hidden. Throws zentrak::Exception when none can be made.
using PreviewViewFactory = std::function<std::unique_ptr<PreviewView>(PreviewHandlers handlers)>;

// The platform's window: GTK on Linux, Win32 on Windows. Throws "No display for the preview
// window" on Linux without a display, and zentrak::Exception when the window cannot be made.
std::unique_ptr<PreviewView> CreatePlatformPreviewView(PreviewHandlers handlers);

class TFormPreview_Foxit {
 public:
  // Builds the hidden window around engine, gives the engine the document area, and turns the
  // engine's two display switches off.
  // REQUIRES: server outlives the form.
  TFormPreview_Foxit(TPrintServer& server, std::unique_ptr<PdfEngine> engine, const PreviewViewFactory& views);
  ~TFormPreview_Foxit();
  TFormPreview_Foxit(const TFormPreview_Foxit&) = delete;
  TFormPreview_Foxit& operator=(const TFormPreview_Foxit&) = delete;

  // The document file, set before openDocument; deleted when the window closes.
  std::string FileName;

  // Opens FileName in the engine and shows it. A document the engine cannot read is not an error
  // here: the print button then reports why.
  void openDocument();
  // Fills the printer list (fillVPrinterChoices's items and index).
  void SetPrinterChoices(const std::vector<std::string>& items, int32_t selected);
  // Shows the window modally; returns when the user has closed it.
  void ShowModal();

  // The button: selectPrinter of the list's text through the server, then range mode 0, copies 0
  // and PrintDocument on the engine's printer. An error is shown to the user and not raised.
  void Button1Click();
  // Closes the document and deletes FileName; a file that cannot be deleted stays, silently.
  void FormClose();

 private:
  TPrintServer& Server;
  // The window outlives the engine, whose view may sit inside it.
  std::unique_ptr<PreviewView> view_;
  std::unique_ptr<PdfEngine> FoxitReaderSDK1;
};

}  // namespace zentrak
