// TPrintServer, the implementation class of PrintServer: printing of Base64 PDF documents on
// installed printers through virtual printer names, and the compressed-text codec for script.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <vector>

#include "automation/automation_object.h"
#include "print/pdf_engine.h"
#include "print/preview_form.h"
#include "print/printer_state.h"
#include "sqlite/sqlite_database.h"

namespace zentrak {

// The table of virtual printer names in every database that setDBName opens.
extern const char kCreatePrinters[];

class TPrintServer : public AutomationObject {
 public:
  // Over the process's printers and the platform's engine.
  TPrintServer();
  // Over other printers, engines and preview windows (tests). REQUIRES: printers outlives the
  // object.
  TPrintServer(PrinterState& printers, PdfEngineFactory engines,
               PreviewViewFactory previews = &CreatePlatformPreviewView);
  ~TPrintServer() override;

  void Invoke(const MemberDesc& member, std::span<Variant> args, Variant& result) override;

  // The members, by the names of the type library.
  void setDBName(const Variant& DBName, const Variant& Path, Variant& ReturnValue);
  void getVPrinters(Variant& Value);
  void getPhPrinters(Variant& Value);
  void printOut(const Variant& printerName, const Variant& Doc, Variant& Value);
  void printOutWithPage(const Variant& printerName, const Variant& Doc, const Variant& printOptions, Variant& Value);
  // Shows Doc in the preview window and returns "true" when the user has closed it. The window
  // runs a nested main loop: other calls, to this object too, are served meanwhile.
  void preview(const Variant& Doc, Variant& Value);
  void compress(const Variant& Doc, Variant& result);
  void deCompress(const Variant& Doc, Variant& result);

  // The steps that the print paths and the preview window share.

  // The physical printer that the Printers table maps vPrinterName to (compared exactly, letter
  // case included), or the empty text when no row maps it or its row holds NULL.
  // Throws when no database is open, and the SQLite layer's error.
  std::string findPhPrinterName(const std::string& vPrinterName);
  // Makes the printer that printerName stands for (a virtual name, else an installed printer's
  // name in any letter case) current and the user's default. Returns false, changing nothing,
  // when it names no installed printer; writes nothing when it is current already.
  bool selectPrinter(const std::string& printerName);
  // Fills items with the virtual names whose printer is installed, in table order, and returns
  // the position of the last one mapped to the current printer (exactly), or -1.
  int32_t fillVPrinterChoices(std::vector<std::string>& items);
  // The preview's document file (common/document_file.h).
  std::string saveDocumentToFile(const Variant& Doc);
  static std::string getUserProfileDir();

 private:
  // Throws "No database is open: call setDBName first" when there is none.
  TSQLiteDatabase& OpenDatabase();
  // The shared steps of printOut and printOutWithPage: select the printer, decode Doc, open it in
  // a new engine, hand its printer object (when it has one) to settle, and close the document,
  // also when settle throws.
  void runPrintJob(const Variant& printerName, const Variant& Doc, const std::function<void(IPDFPrinter&)>& settle);

  PrinterState& printers_;
  PdfEngineFactory engines_;
  PreviewViewFactory previews_;
  std::unique_ptr<TSQLiteDatabase> Database;
};

}  // namespace zentrak
