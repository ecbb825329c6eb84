// The PDF engine of the printing service: one instance per print job, per preview window and per
// viewer control. It opens one document at a time, from memory or from a file, and prints it
// through its printer object, whose seven settings are put before one of the two print members
// runs.
//
// On Linux the engine is our own (print/cups_pdf_engine.cpp): poppler reads the document and a
// print is one CUPS job of application/pdf. On Windows (print/win32_pdf_engine.cpp) the engine is
// the outside PDF control when its class is registered, driven through its dispatch members; else
// our own, which checks the document's frame and spools it RAW through winspool, one job per copy,
// and applies neither the page range nor scaling, rotation or centring.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace zentrak {

// The printer object of an engine. Puts store a setting for the prints that follow; our own
// engines' puts never fail, the outside control's throw its error text when the control refuses
// one. Values arrive as the callers give them; the meanings below are those of our own engines.
class IPDFPrinter {
 public:
  virtual ~IPDFPrinter() = default;

  // 0 prints every page. Any other mode prints the pages PrinterRangeFrom to PrinterRangeTo
  // (counted from 1; a start below 1 counts as 1, an end past the last page as the last page).
  virtual void PutPrinterRangeMode(int32_t mode) = 0;
  virtual void PutPrinterRangeFrom(int16_t page) = 0;
  virtual void PutPrinterRangeTo(int16_t page) = 0;
  // Fewer than 1 copy (0 is what the preview's print button sets) prints one.
  virtual void PutNumOfCopies(int16_t copies) = 0;
  // Percent of the page's size; 100 prints the document's pages at their own size. A value
  // below 1 counts as 100.
  virtual void PutScaling(int16_t percent) = 0;
  // Rotation of pages whose orientation differs from the paper's to fit it.
  virtual void PutAutoRotate(bool on) = 0;
  // Pages smaller than the paper are centred on it; otherwise they sit at its top left corner.
  virtual void PutAutoCenter(bool on) = 0;

  // Prints the open document with the settings. PrintDocument is the print of printOutWithPage
  // and of the preview's button, PrintDocumentPlain that of printOut; this engine prints the
  // same way for both. The print goes to the printer the engine's destination names at the
  // moment of the call.
  // Throws zentrak::Exception when nothing can be printed: no document is open (the message
  // gives the reason the open failed), the page range holds no page, the destination names no
  // printer, or the printing system refuses the job (the message names the printer and gives
  // the printing system's reason). Nothing is left queued after a failure.
  virtual void PrintDocument() = 0;
  virtual void PrintDocumentPlain() = 0;
};

class PdfEngine {
 public:
  virtual ~PdfEngine() = default;

  // Opens a document from bytes, closing any open one first. The bytes are copied: the caller
  // may release them when the call returns. password is empty for the documents of this system.
  // Returns false when the bytes are not a PDF document the engine can read; the reason is
  // kept for the print members' message. Never throws for a bad document.
  virtual bool OpenDocumentMemory(std::string_view bytes, std::string_view password) = 0;
  // The same for a file (8-bit path in the system code page, the platform's own form). The
  // file is read once: it may be deleted while the document is open.
  virtual bool OpenDocumentFile(const std::string& path, std::string_view password) = 0;
  // Closes the document; harmless when none is open, also after a failed open.
  virtual void CloseDocument() = 0;

  // The number of pages of the open document; 0 when none is open.
  virtual int PageCount() const = 0;

  // The printer object, owned by the engine and valid for its life; null when the engine has no
  // printer object (an engine without printing).
  virtual IPDFPrinter* Printer() = 0;

  // The two display switches of the engine's view (the preview turns both off: they hide the
  // view's own toolbar and its navigation panes). An engine without a view keeps them and does
  // nothing else.
  virtual void DisplaySwitch19(bool on) = 0;
  virtual void DisplaySwitch49(bool on) = 0;

  // Shows the engine's view of the document in parent_window (the platform's window handle, an
  // HWND on Windows), filling it. Returns false for an engine that has no view, which then shows
  // nothing; the caller draws the document itself or says that it cannot.
  virtual bool ShowIn(void* parent_window) {
    (void)parent_window;
    return false;
  }
};

// Where a print goes: the name of the printer (8-bit text in the system code page) that is
// current when the print member runs. It throws the error the print should fail with when there
// is no such printer.
using PrintDestination = std::function<std::string()>;

// Makes an engine. The printing service creates one per job and destroys it after closing.
using PdfEngineFactory = std::function<std::unique_ptr<PdfEngine>(PrintDestination destination)>;

// The platform's engine (above).
std::unique_ptr<PdfEngine> CreatePlatformPdfEngine(PrintDestination destination);

}  // namespace zentrak
