// The preview window's behaviour over its PreviewView and its engine.
#include "print/preview_form.h"

#include <exception>
#include <new>

#include "base/exception.h"
#include "platform/env.h"
#include "platform/files.h"
#include "print/print_server.h"

namespace zentrak {

TFormPreview_Foxit::TFormPreview_Foxit(TPrintServer& server, std::unique_ptr<PdfEngine> engine,
                                       const PreviewViewFactory& views)
    : Server(server), FoxitReaderSDK1(std::move(engine)) {
  view_ = views(PreviewHandlers{[this] { Button1Click(); }, [this] { FormClose(); }});
  view_->HostEngine(*FoxitReaderSDK1);
  // The engine's own toolbar and navigation panes stay hidden: the form has its own controls.
  FoxitReaderSDK1->DisplaySwitch19(false);
  FoxitReaderSDK1->DisplaySwitch49(false);
}

TFormPreview_Foxit::~TFormPreview_Foxit() = default;

void TFormPreview_Foxit::openDocument() {
  const std::string file = platform::NativePath(FileName);
  FoxitReaderSDK1->OpenDocumentFile(file, "");
  view_->ShowDocument(file);
}

void TFormPreview_Foxit::SetPrinterChoices(const std::vector<std::string>& items, int32_t selected) {
  view_->SetPrinterChoices(items, selected);
}

void TFormPreview_Foxit::ShowModal() { view_->RunModal(); }

void TFormPreview_Foxit::Button1Click() {
  try {
    // A text that names no printer leaves the current one: the print goes there.
    Server.selectPrinter(view_->PrinterText());
    if (IPDFPrinter* printer = FoxitReaderSDK1->Printer()) {
      printer->PutPrinterRangeMode(0);
      printer->PutNumOfCopies(0);
      printer->PrintDocument();
    }
  } catch (const Exception& e) {
    view_->ShowError(e.Message());
  } catch (const std::bad_alloc&) {
    view_->ShowError("Out of memory");
  } catch (const std::exception& e) {
    view_->ShowError(e.what());
  }
}

void TFormPreview_Foxit::FormClose() {
  FoxitReaderSDK1->CloseDocument();
  const std::string file = platform::NativePath(FileName);
  if (!FileName.empty() && platform::FileExists(file)) platform::RemoveFile(file);
}

}  // namespace zentrak
