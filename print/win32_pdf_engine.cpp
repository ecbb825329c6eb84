// The PDF engines on Windows. When the outside PDF control is registered on the machine, the
// engine is that control, created in the process, sited in a hidden child window
// (print/win32_control_site.h) and driven only through its dispatch members (fixed DISPIDs); it
// prints on the user's default printer, which the printing service has set.
//
// Otherwise the engine is our own. It reads no page itself: it checks that the bytes have the
// frame of a PDF file and hands them unchanged, as one RAW spool job named "Zentrak" per copy, to
// the destination's printer through winspool. The printer (or the print system behind it) must
// understand PDF: Wine's spooler passes the job to CUPS, which types it as application/pdf.
// Only the number of copies is honoured; the page range, scaling, rotation and centring are kept
// and not applied, as the document is not redrawn.
#include <windows.h>
#include <oleauto.h>
#include <winspool.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "base/exception.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/win32/handles.h"
#include "platform/win32/system_error.h"
#include "print/pdf_bytes.h"
#include "print/pdf_engine.h"
#include "print/win32_control_site.h"

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

// The outside PDF control's class.
constexpr CLSID kOutsideControl = {0xDB2189DF, 0xABF4, 0x445A, {0xA4, 0xE5, 0xBF, 0x32, 0xF2, 0xCE, 0xA4, 0xD9}};

// The control's members and its printer object's.
enum ControlDispid : DISPID {
  kOpenDocumentFile = 15,
  kOpenDocumentMemory = 23,
  kCloseDocument = 22,
  kPrinter = 6,
  kDisplaySwitch19 = 19,
  kDisplaySwitch49 = 49,
};
enum PrinterDispid : DISPID {
  kPrinterRangeMode = 2,
  kPrinterRangeFrom = 3,
  kPrinterRangeTo = 4,
  kNumOfCopies = 5,
  kScaling = 6,
  kAutoRotate = 7,
  kAutoCenter = 8,
  kPrintDocument = 14,
  kPrintDocumentPlain = 15,
};

struct ComRelease {
  void operator()(IUnknown* p) const { p->Release(); }
};
using DispatchPtr = std::unique_ptr<IDispatch, ComRelease>;

using platform::BoolVariant;
using platform::I2Variant;
using platform::I4Variant;
using platform::ScopedVariant;

// One dispatch call. args are in the order of the member's parameters; a put passes its one value
// as the named DISPID_PROPERTYPUT argument. A failed call throws the control's error text, or the
// system's text of its status when the control gives none.
void Call(IDispatch* target, DISPID id, WORD kind, std::initializer_list<VARIANT> args, VARIANT* result = nullptr) {
  std::vector<VARIANT> reversed(args.begin(), args.end());  // dispatch arguments run last to first
  std::reverse(reversed.begin(), reversed.end());
  DISPID put = DISPID_PROPERTYPUT;
  DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
  if (kind == DISPATCH_PROPERTYPUT) {
    params.rgdispidNamedArgs = &put;
    params.cNamedArgs = 1;
  }
  EXCEPINFO error{};
  UINT bad_argument = 0;
  HRESULT hr = target->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, kind, &params, result, &error, &bad_argument);
  if (error.pfnDeferredFillIn) error.pfnDeferredFillIn(&error);
  std::string text;
  if (error.bstrDescription) {
    text = platform::WideToAnsi(std::u16string_view(reinterpret_cast<const char16_t*>(error.bstrDescription),
                                                    SysStringLen(error.bstrDescription)));
  }
  SysFreeString(error.bstrSource);
  SysFreeString(error.bstrDescription);
  SysFreeString(error.bstrHelpFile);
  if (FAILED(hr)) {
    if (text.empty()) text = platform::Win32ErrorText(static_cast<DWORD>(error.scode ? error.scode : hr));
    throw Exception(text);
  }
}

// The outside control's printer object: every put and print is one dispatch call.
class OutsidePrinter final : public IPDFPrinter {
 public:
  explicit OutsidePrinter(DispatchPtr printer) : printer_(std::move(printer)) {}

  void PutPrinterRangeMode(int32_t mode) override { Put(kPrinterRangeMode, I4Variant(mode)); }
  void PutPrinterRangeFrom(int16_t page) override { Put(kPrinterRangeFrom, I2Variant(page)); }
  void PutPrinterRangeTo(int16_t page) override { Put(kPrinterRangeTo, I2Variant(page)); }
  void PutNumOfCopies(int16_t copies) override { Put(kNumOfCopies, I2Variant(copies)); }
  void PutScaling(int16_t percent) override { Put(kScaling, I2Variant(percent)); }
  void PutAutoRotate(bool on) override { Put(kAutoRotate, BoolVariant(on)); }
  void PutAutoCenter(bool on) override { Put(kAutoCenter, BoolVariant(on)); }
  void PrintDocument() override { Call(printer_.get(), kPrintDocument, DISPATCH_METHOD, {}); }
  void PrintDocumentPlain() override { Call(printer_.get(), kPrintDocumentPlain, DISPATCH_METHOD, {}); }

 private:
  void Put(DISPID id, VARIANT value) { Call(printer_.get(), id, DISPATCH_PROPERTYPUT, {value}); }

  DispatchPtr printer_;
};

// The outside control as the engine. It prints where the control prints: on the user's default
// printer, which the printing service selected before the print. The control is sited for the
// engine's life; the document is closed before the control leaves its site.
class OutsidePdfEngine final : public PdfEngine {
 public:
  explicit OutsidePdfEngine(DispatchPtr control)
      : control_(std::move(control)), hosted_(std::make_unique<HostedControl>(control_.get())) {}
  ~OutsidePdfEngine() override {
    CloseDocument();
    hosted_.reset();
  }

  bool OpenDocumentMemory(std::string_view bytes, std::string_view password) override {
    CloseDocument();
    // The control reads the bytes from this address until the document is closed: they stay here.
    // The control is 32-bit, where the address fits its 32-bit parameter; the 64-bit test build
    // passes the low half to the test's recorder, which never reads through it.
    bytes_.assign(bytes);
    opened_ = true;
    ScopedVariant secret(password);
    ScopedVariant result;
    const auto address = static_cast<int32_t>(reinterpret_cast<intptr_t>(bytes_.data()));
    Call(control_.get(), kOpenDocumentMemory, DISPATCH_METHOD,
         {I4Variant(address), I4Variant(static_cast<int32_t>(bytes_.size())), secret.v}, &result.v);
    return result.v.vt == VT_BOOL && result.v.boolVal != VARIANT_FALSE;
  }

  bool OpenDocumentFile(const std::string& path, std::string_view password) override {
    CloseDocument();
    opened_ = true;
    ScopedVariant file(path);
    ScopedVariant secret(password);
    ScopedVariant result;
    Call(control_.get(), kOpenDocumentFile, DISPATCH_METHOD, {file.v, secret.v}, &result.v);
    return result.v.vt == VT_BOOL && result.v.boolVal != VARIANT_FALSE;
  }

  // Callers close from destructors: a failure of the control's close is dropped, as there is
  // nothing left to undo.
  void CloseDocument() noexcept override {
    printer_.reset();
    if (opened_) {
      try {
        Call(control_.get(), kCloseDocument, DISPATCH_METHOD, {});
      } catch (...) {
      }
    }
    opened_ = false;
    bytes_.clear();
    bytes_.shrink_to_fit();
  }

  // The control does not tell its page count.
  int PageCount() const override { return 0; }

  IPDFPrinter* Printer() override {
    ScopedVariant result;
    Call(control_.get(), kPrinter, DISPATCH_PROPERTYGET, {}, &result.v);
    if (result.v.vt != VT_DISPATCH || !result.v.pdispVal) return nullptr;
    result.v.pdispVal->AddRef();
    printer_ = std::make_unique<OutsidePrinter>(DispatchPtr(result.v.pdispVal));
    return printer_.get();
  }

  void DisplaySwitch19(bool on) override { Call(control_.get(), kDisplaySwitch19, DISPATCH_METHOD, {BoolVariant(on)}); }
  void DisplaySwitch49(bool on) override { Call(control_.get(), kDisplaySwitch49, DISPATCH_METHOD, {BoolVariant(on)}); }

  bool ShowIn(void* parent_window) override { return hosted_->ShowIn(static_cast<HWND>(parent_window)); }

 private:
  DispatchPtr control_;
  std::unique_ptr<HostedControl> hosted_;
  std::string bytes_;
  bool opened_ = false;
  std::unique_ptr<OutsidePrinter> printer_;
};

// The outside control when its class is registered and can be created in the process; else null.
DispatchPtr CreateOutsideControl() {
  IDispatch* control = nullptr;
  if (FAILED(CoCreateInstance(kOutsideControl, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                              reinterpret_cast<void**>(&control)))) {
    return nullptr;
  }
  return DispatchPtr(control);
}

}  // namespace

std::unique_ptr<PdfEngine> CreatePlatformPdfEngine(PrintDestination destination) {
  if (DispatchPtr control = CreateOutsideControl()) return std::make_unique<OutsidePdfEngine>(std::move(control));
  return std::make_unique<SpoolPdfEngine>(std::move(destination));
}

}  // namespace zentrak
