// Our PDF engine on Windows. It reads no page itself: it checks that the bytes have the frame of
// a PDF file and hands them unchanged, as one RAW spool job named "Zentrak" per copy, to the
// destination's printer through winspool. The printer (or the print system behind it) must
// understand PDF: Wine's spooler passes the job to CUPS, which types it as application/pdf.
// Only the number of copies is honoured; the page range, scaling, rotation and centring are kept
// and not applied, as the document is not redrawn.
#include <windows.h>
#include <winspool.h>

#include <algorithm>
#include <memory>
#include <string>

#include "base/exception.h"
#include "platform/files.h"
#include "platform/win32/handles.h"
#include "platform/win32/system_error.h"
#include "print/pdf_bytes.h"
#include "print/pdf_engine.h"

namespace zentrak {
namespace {

class SpoolPdfEngine final : public PdfEngine, private IPDFPrinter {
 public:
  explicit SpoolPdfEngine(PrintDestination destination) : destination_(std::move(destination)) {}

  bool OpenDocumentMemory(std::string_view bytes, std::string_view) override {
    CloseDocument();
    bytes_.assign(bytes);
    return Load();
  }

  bool OpenDocumentFile(const std::string& path, std::string_view) override {
    CloseDocument();
    platform::ExclusiveFile file;
    std::string reason;
    int64_t size = -1;
    if (file.Open(path, reason) && (size = file.SeekToEnd(reason)) >= 0 && file.SeekFromStart(0, reason)) {
      bytes_.resize(static_cast<size_t>(size));
      int64_t got = file.Read(bytes_.data(), bytes_.size(), reason);
      if (got == size) return Load();
      if (got >= 0) reason = "the file changed while it was read";
    }
    bytes_.clear();
    open_error_ = "the file \"" + path + "\" cannot be read: " + reason;
    return false;
  }

  void CloseDocument() override {
    open_ = false;
    pages_ = 0;
    bytes_.clear();
    bytes_.shrink_to_fit();
    open_error_ = "no document is open";
  }

  int PageCount() const override { return open_ ? pages_ : 0; }

  IPDFPrinter* Printer() override { return this; }

  // The engine has no view.
  void DisplaySwitch19(bool) override {}
  void DisplaySwitch49(bool) override {}

 private:
  // Kept for the callers' sake; the document goes to the printer whole and as it is.
  void PutPrinterRangeMode(int32_t) override {}
  void PutPrinterRangeFrom(int16_t) override {}
  void PutPrinterRangeTo(int16_t) override {}
  void PutScaling(int16_t) override {}
  void PutAutoRotate(bool) override {}
  void PutAutoCenter(bool) override {}
  void PutNumOfCopies(int16_t copies) override { copies_ = copies; }
  void PrintDocument() override { Print(); }
  void PrintDocumentPlain() override { Print(); }

  bool Load() {
    std::string reason;
    if (!LooksLikePdf(bytes_, reason)) {
      open_error_ = reason;
      bytes_.clear();
      return false;
    }
    open_ = true;
    pages_ = CountPdfPages(bytes_);
    return true;
  }

  void Print() {
    if (!open_) throw Exception("Cannot print: " + open_error_);
    const std::string printer = destination_();
    // A PDF consumer reads one document per job, so each copy is a job of its own.
    for (int copy = 0; copy < std::max<int>(1, copies_); ++copy) Spool(printer);
  }

  // One RAW job of the document on printer. On failure the job is aborted, so that nothing of
  // it is left queued, and the error names the printer and gives the system's reason.
  void Spool(const std::string& printer) const {
    auto refused = [&printer](DWORD error) {
      return Exception("Cannot print on \"" + printer + "\": " + platform::Win32ErrorText(error));
    };
    platform::PrinterHandle handle;
    if (!OpenPrinterA(const_cast<char*>(printer.c_str()), handle.Put(), nullptr)) throw refused(GetLastError());
    char name[] = "Zentrak";
    char datatype[] = "RAW";
    DOC_INFO_1A info{name, nullptr, datatype};
    if (StartDocPrinterA(handle.Get(), 1, reinterpret_cast<BYTE*>(&info)) == 0) throw refused(GetLastError());
    // WritePrinter may take fewer bytes than offered; a call that takes none has failed.
    constexpr size_t kChunk = 1 << 20;
    for (size_t at = 0; at < bytes_.size();) {
      DWORD n = static_cast<DWORD>(std::min(kChunk, bytes_.size() - at));
      DWORD written = 0;
      if (!WritePrinter(handle.Get(), const_cast<char*>(bytes_.data() + at), n, &written) || written == 0) {
        DWORD error = GetLastError();
        AbortPrinter(handle.Get());
        throw refused(error ? error : ERROR_WRITE_FAULT);
      }
      at += written;
    }
    if (!EndDocPrinter(handle.Get())) {
      DWORD error = GetLastError();
      AbortPrinter(handle.Get());
      throw refused(error);
    }
  }

  PrintDestination destination_;
  std::string bytes_;
  bool open_ = false;
  int pages_ = 0;
  std::string open_error_ = "no document is open";
  int16_t copies_ = 1;
};

}  // namespace

std::unique_ptr<PdfEngine> CreatePlatformPdfEngine(PrintDestination destination) {
  return std::make_unique<SpoolPdfEngine>(std::move(destination));
}

}  // namespace zentrak
