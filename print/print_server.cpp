// PrintServer: the virtual printer map, the print jobs and their options, and the binding of its
// members.
#include "print/print_server.h"

#include "base/exception.h"
#include "base/text.h"
#include "codec/base64.h"
#include "codec/compressed_text.h"
#include "common/common.h"
#include "common/data_folder.h"
#include "common/document_file.h"
#include "platform/codepage.h"
#include "platform/env.h"
#include "automation/convert.h"
#include "automation/dispids.h"
#include "print/print_options.h"

namespace zentrak {

const char kCreatePrinters[] =
    "CREATE TABLE IF NOT EXISTS Printers (VPrinterName TEXT NOT NULL PRIMARY KEY,PhPrinterName TEXT)";

namespace {

const char kMappings[] = "select vPrintername,PhPrintername from Printers";

}  // namespace

TPrintServer::TPrintServer() : TPrintServer(ProcessPrinterState(), &CreatePlatformPdfEngine) {}

TPrintServer::TPrintServer(PrinterState& printers, PdfEngineFactory engines, PreviewViewFactory previews)
    : AutomationObject(PrintServerClass()),
      printers_(printers),
      engines_(std::move(engines)),
      previews_(std::move(previews)) {}

TPrintServer::~TPrintServer() = default;

TSQLiteDatabase& TPrintServer::OpenDatabase() {
  if (!Database) throw Exception("No database is open: call setDBName first");
  return *Database;
}

void TPrintServer::setDBName(const Variant& DBName, const Variant& Path, Variant& ReturnValue) {
  try {
    std::string file = DatabaseFileName(DBName, Path);
    Database.reset();
    Database = std::make_unique<TSQLiteDatabase>(file);
    Database->RunStatement(kCreatePrinters);
    ReturnValue = Variant::FromBool(true);
  } catch (const std::exception&) {
    // Every failure is reported only through ReturnValue.
    ReturnValue = Variant::FromBool(false);
  }
}

void TPrintServer::getVPrinters(Variant& Value) {
  Value = Variant(TCommonClass::QueryToJSON(OpenDatabase(), Variant(u"select * from Printers"), Variant::FromInt32(-1),
                                            Variant::FromInt32(-1)));
}

void TPrintServer::getPhPrinters(Variant& Value) {
  std::string lines;
  for (const std::string& name : printers_.Installed()) {
    lines += name;
    lines += '\n';
  }
  TvxJSONobject result;
  TCommonClass::LinesToJSON("PhPrinterName", lines, result);
  Value = Variant(ResultText(result));
}

std::string TPrintServer::findPhPrinterName(const std::string& vPrinterName) {
  auto table = OpenDatabase().QueryTable(kMappings);
  const std::u16string wanted = platform::AnsiToWide(vPrinterName);
  for (; !table->AtEnd(); table->Advance()) {
    if (Utf8ToWide(table->CellTextOrEmpty(0)) == wanted) {
      return table->CellIsNull(1) ? std::string() : platform::Utf8ToAnsi(table->CellText(1));
    }
  }
  return std::string();
}

bool TPrintServer::selectPrinter(const std::string& printerName) {
  std::string physical = findPhPrinterName(printerName);
  if (physical.empty()) physical = printerName;
  int index = printers_.Find(physical);
  if (index < 0) return false;
  if (index == printers_.Current()) return true;
  printers_.Select(index);
  return true;
}

int32_t TPrintServer::fillVPrinterChoices(std::vector<std::string>& items) {
  items.clear();
  int32_t result = -1;
  const int current = printers_.Current();
  const std::string current_name =
      current < 0 ? std::string() : printers_.Installed()[static_cast<size_t>(current)];
  auto table = OpenDatabase().QueryTable(kMappings);
  for (; !table->AtEnd(); table->Advance()) {
    std::string physical = platform::Utf8ToAnsi(table->CellTextOrEmpty(1));
    if (printers_.Find(physical) >= 0) items.push_back(platform::Utf8ToAnsi(table->CellTextOrEmpty(0)));
    if (current >= 0 && physical == current_name) result = static_cast<int32_t>(items.size()) - 1;
  }
  return result;
}

std::string TPrintServer::saveDocumentToFile(const Variant& Doc) { return SaveDocumentToFile(VarToText(Doc)); }

std::string TPrintServer::getUserProfileDir() { return platform::UserProfileDir(); }

void TPrintServer::runPrintJob(const Variant& printerName, const Variant& Doc,
                               const std::function<void(IPDFPrinter&)>& settle) {
  selectPrinter(VarToText(printerName));  // a name that matches nothing prints on the current printer
  const std::string bytes = TCommonClass::DecodeBase64(VarToText(Doc));
  PrinterState& printers = printers_;
  std::unique_ptr<PdfEngine> engine = engines_([&printers] { return printers.CurrentName(); });
  struct Closer {
    PdfEngine& engine;
    ~Closer() { engine.CloseDocument(); }
  } closer{*engine};
  engine->OpenDocumentMemory(bytes, "");  // a failed open is reported by the print member
  if (IPDFPrinter* printer = engine->Printer()) settle(*printer);
}

void TPrintServer::printOut(const Variant& printerName, const Variant& Doc, Variant& Value) {
  runPrintJob(printerName, Doc, [](IPDFPrinter& p) {
    p.PutPrinterRangeMode(0);
    p.PutNumOfCopies(1);
    p.PutAutoRotate(false);
    p.PutAutoCenter(false);
    p.PutScaling(100);
    p.PrintDocumentPlain();
  });
  Value = Variant::FromBool(true);
}

namespace {

// The low 16 bits, signed, as the printer object's 16-bit settings take them.
int16_t Low16(int32_t value) { return static_cast<int16_t>(static_cast<uint16_t>(value & 0xFFFF)); }

}  // namespace

// Value is left Empty: the member returns no value.
void TPrintServer::printOutWithPage(const Variant& printerName, const Variant& Doc, const Variant& printOptions,
                                    Variant&) {
  const TPrintOptions options(platform::AnsiToUtf8(VarToText(printOptions)));
  // Each option is read when it is put, in this order: one that cannot be converted fails the
  // call after the ones before it were put, and nothing is printed.
  runPrintJob(printerName, Doc, [&options](IPDFPrinter& p) {
    p.PutPrinterRangeMode(options.getIntOption(u"PrinterRangeMode", 0));
    p.PutPrinterRangeFrom(Low16(options.getIntOption(u"printerRangeFrom", 1)));
    p.PutPrinterRangeTo(Low16(options.getIntOption(u"printerRangeTo", 1)));
    p.PutNumOfCopies(Low16(options.getIntOption(u"numOfCopies", 1)));
    p.PutAutoRotate(options.getIntOption(u"AutoRotate", 0) == 1);
    p.PutAutoCenter(options.getIntOption(u"AutoCenter", 0) == 1);
    p.PutScaling(Low16(options.getIntOption(u"Scaling", 100)));
    p.PrintDocument();
  });
}

void TPrintServer::preview(const Variant& Doc, Variant& Value) {
  PrinterState& printers = printers_;
  TFormPreview_Foxit form(*this, engines_([&printers] { return printers.CurrentName(); }), previews_);
  form.FileName = saveDocumentToFile(Doc);
  form.openDocument();
  // From here a failure leaves the file behind: the window that would delete it never opened.
  std::vector<std::string> items;
  const int32_t selected = fillVPrinterChoices(items);
  form.SetPrinterChoices(items, selected);
  form.ShowModal();
  Value = Variant(u"true");
}

// The document's 8-bit text packed into a one-entry zip archive, carried as Base64.
void TPrintServer::compress(const Variant& Doc, Variant& result) {
  std::string text = VarToText(Doc);
  result = Variant(platform::AnsiToWide(EncodeBase64(compressText(text))));
}

// The entry "PDF" of the Base64-decoded archive, taken as 8-bit text in the system code page.
void TPrintServer::deCompress(const Variant& Doc, Variant& result) {
  std::string text = VarToText(Doc);
  result = Variant(platform::AnsiToWide(decompressText(DecodeBase64(text))));
}

void TPrintServer::Invoke(const MemberDesc& member, std::span<Variant> a, Variant& result) {
  switch (member.dispid) {
    case dispid::print_server::kGetVPrinters:
      return getVPrinters(result);
    case dispid::print_server::kGetPhPrinters:
      return getPhPrinters(result);
    case dispid::print_server::kPrintOut:
      return printOut(a[0], a[1], result);
    case dispid::print_server::kSetDBName:
      return setDBName(a[0], a[1], result);
    case dispid::print_server::kPrintOutWithPage:
      return printOutWithPage(a[0], a[1], a[2], result);
    case dispid::print_server::kPreview:
      return preview(a[0], result);
    case dispid::print_server::kCompress:
      return compress(a[0], result);
    case dispid::print_server::kDeCompress:
      return deCompress(a[0], result);
    default:
      throw ENotAvailable(std::string("PrintServer.") + member.name);
  }
}

}  // namespace zentrak
