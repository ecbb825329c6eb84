// The Linux engine without a printing system: what it reads from a document and what it refuses
// before a job is made. Jobs themselves are tested against a real cupsd (tests/cups).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "base/exception.h"
#include "base/exception_testing.h"
#include "print/pdf_engine.h"

namespace zentrak {
namespace {

// A PDF of `pages` empty A4 pages, with a correct cross-reference table.
std::string MakePdf(int pages) {
  std::vector<std::string> objects = {"<< /Type /Catalog /Pages 2 0 R >>", ""};
  std::string kids;
  for (int i = 0; i < pages; ++i) {
    objects.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] >>");
    kids += std::to_string(objects.size()) + " 0 R ";
  }
  objects[1] = "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) + " >>";
  std::string out = "%PDF-1.4\n";
  std::vector<size_t> offsets;
  for (size_t i = 0; i < objects.size(); ++i) {
    offsets.push_back(out.size());
    out += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  size_t xref = out.size();
  out += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
  for (size_t offset : offsets) {
    char line[24];
    std::snprintf(line, sizeof line, "%010zu 00000 n \n", offset);
    out += line;
  }
  out += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
         std::to_string(xref) + "\n%%EOF\n";
  return out;
}

// An engine whose destination is fixed, or fails as the printer state does without one.
std::unique_ptr<PdfEngine> Engine(const char* printer) {
  return CreatePlatformPdfEngine([printer]() -> std::string {
    if (!printer) throw Exception("There is no default printer currently selected");
    return printer;
  });
}

TEST(CupsPdfEngine, OpensDocumentsAndCountsPages) {
  auto engine = Engine(nullptr);
  EXPECT_TRUE(engine->OpenDocumentMemory(MakePdf(3), ""));
  EXPECT_EQ(engine->PageCount(), 3);
  EXPECT_FALSE(engine->OpenDocumentMemory("%PDF-1.4 but nothing else", ""));
  EXPECT_EQ(engine->PageCount(), 0);
  engine->CloseDocument();  // harmless after a failed open, and twice
  engine->CloseDocument();

  auto file = std::filesystem::temp_directory_path() / ("zentrak-engine-" + std::to_string(::getpid()) + ".pdf");
  std::ofstream(file, std::ios::binary) << MakePdf(2);
  EXPECT_TRUE(engine->OpenDocumentFile(file.string(), ""));
  std::filesystem::remove(file);  // read once: the open document does not need the file
  EXPECT_EQ(engine->PageCount(), 2);
  EXPECT_FALSE(engine->OpenDocumentFile(file.string(), ""));
  ASSERT_NE(engine->Printer(), nullptr);
  EXPECT_EQ(RaisedMessage([&] { engine->Printer()->PrintDocument(); }),
            "Cannot print: the file \"" + file.string() + "\" cannot be read: No such file or directory");
}

// What a print refuses before it reaches the printing system, and the order of the checks:
// the document, then the page range, then the destination.
TEST(CupsPdfEngine, RefusesWhatCannotBePrinted) {
  struct Case {
    const char* document;  // "pdf" for a two-page document
    int32_t mode;
    int16_t from, to;
    const char* printer;
    std::string error;
  } cases[] = {
      {nullptr, 0, 1, 1, "P", "Cannot print: no document is open"},
      {"junk", 0, 1, 1, "P", "Cannot print: the document is not a PDF document that can be read (PDF document is damaged)"},
      {"pdf", 1, 3, 9, "P", "Cannot print: the pages 3 to 9 are not in the document, which has 2 pages"},
      {"pdf", 5, 2, 1, "P", "Cannot print: the pages 2 to 1 are not in the document, which has 2 pages"},
      {"pdf", 1, -4, 0, "P", "Cannot print: the pages -4 to 0 are not in the document, which has 2 pages"},
      {"pdf", 0, 3, 9, nullptr, "There is no default printer currently selected"},  // mode 0: every page
      {"pdf", 1, -4, 1, nullptr, "There is no default printer currently selected"},  // page 1
      {"pdf", 1, 2, 300, nullptr, "There is no default printer currently selected"},  // page 2
  };
  for (const auto& c : cases) {
    auto engine = Engine(c.printer);
    if (c.document) engine->OpenDocumentMemory(std::string(c.document) == "pdf" ? MakePdf(2) : c.document, "");
    IPDFPrinter* printer = engine->Printer();
    printer->PutPrinterRangeMode(c.mode);
    printer->PutPrinterRangeFrom(c.from);
    printer->PutPrinterRangeTo(c.to);
    EXPECT_EQ(RaisedMessage([&] { printer->PrintDocumentPlain(); }), c.error) << c.mode << " " << c.from << " " << c.to;
  }
}

// A printing system that cannot be reached refuses the job with its reason: never success.
TEST(CupsPdfEngine, AnUnreachableServerFailsThePrint) {
  setenv("CUPS_SERVER", "/nonexistent/zentrak-cups.sock", 1);
  auto engine = Engine("Nowhere");
  ASSERT_TRUE(engine->OpenDocumentMemory(MakePdf(1), ""));
  std::string raised = RaisedMessage([&] { engine->Printer()->PrintDocument(); });
  EXPECT_EQ(raised.rfind("Cannot print on \"Nowhere\": ", 0), 0u) << raised;
  EXPECT_GT(raised.size(), std::string("Cannot print on \"Nowhere\": ").size()) << raised;
  unsetenv("CUPS_SERVER");
}

}  // namespace
}  // namespace zentrak
