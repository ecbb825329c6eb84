// Our PDF engine on Linux. poppler reads the document, to check it and count its pages; a print
// is one CUPS job of application/pdf named "Zentrak" on the destination's printer. The server's
// pdftopdf filter (cups-filters) prepares the pages for the queue, and the options below are
// chosen for what it does with a PDF, as measured with CUPS 2.4 and cups-filters 1.28:
//   - page-ranges (IPP) selects pages; copies (IPP) repeats the document;
//   - pdftopdf turns pages whose orientation differs from the paper's unless the job says
//     pdfAutoRotate=false;
//   - it centres pages smaller than the paper unless the job gives a position; top-left puts
//     them at the paper's top left corner;
//   - it ignores percent scaling (scaling=N: its code is commented out), so a scale other than
//     100 is drawn here: poppler renders every page into a cairo PDF surface of the scaled size
//     (vector output), and print-scaling=none keeps pdftopdf from fitting the result to the
//     paper again. Scaling 100 sends the document's own bytes untouched.
#include <cairo-pdf.h>
#include <cairo.h>
#include <cups/cups.h>
#include <poppler.h>

#include <algorithm>
#include <memory>
#include <string>

#include "base/exception.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "print/pdf_engine.h"

namespace zentrak {
namespace {

struct GObjectUnref {
  void operator()(gpointer object) const { g_object_unref(object); }
};
template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

// A CUPS option list, freed when destroyed.
class CupsOptions {
 public:
  CupsOptions() = default;
  ~CupsOptions() { cupsFreeOptions(count_, options_); }
  CupsOptions(const CupsOptions&) = delete;
  CupsOptions& operator=(const CupsOptions&) = delete;

  void Add(const char* name, const std::string& value) { count_ = cupsAddOption(name, value.c_str(), count_, &options_); }
  bool Has(const char* name) const { return cupsGetOption(name, count_, options_) != nullptr; }
  int count() const { return count_; }
  cups_option_t* options() const { return options_; }

 private:
  int count_ = 0;
  cups_option_t* options_ = nullptr;
};

cairo_status_t AppendToString(void* closure, const unsigned char* data, unsigned int length) {
  static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
  return CAIRO_STATUS_SUCCESS;
}

class CupsPdfEngine final : public PdfEngine, private IPDFPrinter {
 public:
  explicit CupsPdfEngine(PrintDestination destination) : destination_(std::move(destination)) {}
  ~CupsPdfEngine() override { CloseDocument(); }

  bool OpenDocumentMemory(std::string_view bytes, std::string_view password) override {
    CloseDocument();
    bytes_.assign(bytes);
    return Load(password);
  }

  bool OpenDocumentFile(const std::string& path, std::string_view password) override {
    CloseDocument();
    platform::ExclusiveFile file;
    std::string reason;
    int64_t size = -1;
    if (file.Open(path, reason) && (size = file.SeekToEnd(reason)) >= 0 && file.SeekFromStart(0, reason)) {
      bytes_.resize(static_cast<size_t>(size));
      int64_t got = file.Read(bytes_.data(), bytes_.size(), reason);
      if (got == size) return Load(password);
      if (got >= 0) reason = "the file changed while it was read";
    }
    bytes_.clear();
    open_error_ = "the file \"" + path + "\" cannot be read: " + reason;
    return false;
  }

  void CloseDocument() override {
    document_.reset();  // before the bytes it reads
    bytes_.clear();
    bytes_.shrink_to_fit();
    open_error_ = "no document is open";
  }

  int PageCount() const override { return document_ ? poppler_document_get_n_pages(document_.get()) : 0; }

  IPDFPrinter* Printer() override { return this; }

  // The engine has no view: the switches have nothing to hide.
  void DisplaySwitch19(bool) override {}
  void DisplaySwitch49(bool) override {}

 private:
  void PutPrinterRangeMode(int32_t mode) override { range_mode_ = mode; }
  void PutPrinterRangeFrom(int16_t page) override { range_from_ = page; }
  void PutPrinterRangeTo(int16_t page) override { range_to_ = page; }
  void PutNumOfCopies(int16_t copies) override { copies_ = copies; }
  void PutScaling(int16_t percent) override { scaling_ = percent; }
  void PutAutoRotate(bool on) override { auto_rotate_ = on; }
  void PutAutoCenter(bool on) override { auto_center_ = on; }
  void PrintDocument() override { Print(); }
  void PrintDocumentPlain() override { Print(); }

  bool Load(std::string_view password) {
    // The document reads bytes_ in place; CloseDocument drops it before the bytes.
    GBytes* data = g_bytes_new_static(bytes_.data(), bytes_.size());
    std::string secret(password);
    GError* error = nullptr;
    PopplerDocument* document = poppler_document_new_from_bytes(data, secret.empty() ? nullptr : secret.c_str(), &error);
    g_bytes_unref(data);
    if (!document) {
      open_error_ = "the document is not a PDF document that can be read (" +
                    platform::Utf8ToAnsi(error ? error->message : "unknown error") + ")";
      if (error) g_error_free(error);
      bytes_.clear();
      return false;
    }
    document_.reset(document);
    return true;
  }

  void Print() {
    if (!document_) throw Exception("Cannot print: " + open_error_);
    const int pages = PageCount();
    CupsOptions options;
    if (range_mode_ != 0) {
      int from = std::max<int>(1, range_from_);
      int to = std::min<int>(pages, range_to_);
      if (from > to) {
        throw Exception("Cannot print: the pages " + std::to_string(range_from_) + " to " + std::to_string(range_to_) +
                        " are not in the document, which has " + std::to_string(pages) + " pages");
      }
      options.Add("page-ranges", std::to_string(from) + "-" + std::to_string(to));
    }
    options.Add("copies", std::to_string(std::max<int>(1, copies_)));
    if (!auto_rotate_) options.Add("pdfAutoRotate", "false");
    if (!auto_center_) options.Add("position", "top-left");
    const std::string printer = destination_();
    const int scaling = scaling_ < 1 ? 100 : scaling_;
    std::string scaled;
    std::string_view data = bytes_;
    if (scaling != 100) {
      scaled = Scaled(scaling / 100.0);
      data = scaled;
      options.Add("print-scaling", "none");
    }
    Submit(printer, data, options);
  }

  // Every page drawn at factor times its size into a new PDF.
  std::string Scaled(double factor) const {
    std::string out;
    cairo_surface_t* surface = cairo_pdf_surface_create_for_stream(&AppendToString, &out, 1, 1);
    const int pages = PageCount();
    for (int i = 0; i < pages; ++i) {
      GObjectPtr<PopplerPage> page(poppler_document_get_page(document_.get(), i));
      if (!page) continue;
      double width = 0, height = 0;
      poppler_page_get_size(page.get(), &width, &height);  // as displayed: the page's rotation applied
      cairo_pdf_surface_set_size(surface, width * factor, height * factor);
      cairo_t* cr = cairo_create(surface);
      cairo_scale(cr, factor, factor);
      poppler_page_render_for_printing(page.get(), cr);
      cairo_show_page(cr);
      cairo_destroy(cr);
    }
    cairo_surface_finish(surface);
    cairo_status_t status = cairo_surface_status(surface);
    cairo_surface_destroy(surface);
    if (status != CAIRO_STATUS_SUCCESS) {
      throw Exception(std::string("Cannot print: the scaled pages cannot be drawn (") + cairo_status_to_string(status) +
                      ")");
    }
    return out;
  }

  // One job on printer ("queue" or "queue/instance"). CUPS's own reason for a refusal becomes the
  // error; a job that was created is cancelled when its document cannot be delivered.
  static void Submit(const std::string& printer, std::string_view data, CupsOptions& options) {
    std::string utf8 = platform::AnsiToUtf8(printer);
    std::string queue = utf8;
    std::string instance;
    if (size_t slash = utf8.find('/'); slash != std::string::npos) {
      queue = utf8.substr(0, slash);
      instance = utf8.substr(slash + 1);
    }
    auto refused = [&printer](const char* reason) {
      return Exception("Cannot print on \"" + printer + "\": " + platform::Utf8ToAnsi(reason));
    };
    // The destination's saved options (lpoptions -p) apply where the job sets none, as with lp;
    // the look-up also tells a printer that has gone from one that is there.
    cups_dest_t* dest =
        cupsGetNamedDest(CUPS_HTTP_DEFAULT, queue.c_str(), instance.empty() ? nullptr : instance.c_str());
    if (!dest) {
      throw refused(cupsLastError() <= IPP_STATUS_OK_EVENTS_COMPLETE ? "The printer or class does not exist."
                                                                     : cupsLastErrorString());
    }
    for (int i = 0; i < dest->num_options; ++i) {
      if (!options.Has(dest->options[i].name)) options.Add(dest->options[i].name, dest->options[i].value);
    }
    cupsFreeDests(1, dest);

    int job = cupsCreateJob(CUPS_HTTP_DEFAULT, queue.c_str(), "Zentrak", options.count(), options.options());
    if (job == 0) throw refused(cupsLastErrorString());
    std::string reason;
    if (cupsStartDocument(CUPS_HTTP_DEFAULT, queue.c_str(), job, "Zentrak", CUPS_FORMAT_PDF, 1) != HTTP_STATUS_CONTINUE) {
      reason = cupsLastErrorString();
    } else {
      constexpr size_t kChunk = 1 << 20;
      for (size_t at = 0; at < data.size() && reason.empty(); at += kChunk) {
        size_t n = std::min(kChunk, data.size() - at);
        if (cupsWriteRequestData(CUPS_HTTP_DEFAULT, data.data() + at, n) != HTTP_STATUS_CONTINUE) {
          reason = cupsLastErrorString();
        }
      }
      if (cupsFinishDocument(CUPS_HTTP_DEFAULT, queue.c_str()) > IPP_STATUS_OK_EVENTS_COMPLETE && reason.empty()) {
        reason = cupsLastErrorString();
      }
    }
    if (!reason.empty()) {
      cupsCancelJob2(CUPS_HTTP_DEFAULT, queue.c_str(), job, 0);
      throw refused(reason.c_str());
    }
  }

  PrintDestination destination_;
  std::string bytes_;
  GObjectPtr<PopplerDocument> document_;
  std::string open_error_ = "no document is open";
  int32_t range_mode_ = 0;
  int16_t range_from_ = 1;
  int16_t range_to_ = 1;
  int16_t copies_ = 1;
  int16_t scaling_ = 100;
  bool auto_rotate_ = true;
  bool auto_center_ = true;
};

}  // namespace

std::unique_ptr<PdfEngine> CreatePlatformPdfEngine(PrintDestination destination) {
  return std::make_unique<CupsPdfEngine>(std::move(destination));
}

}  // namespace zentrak
