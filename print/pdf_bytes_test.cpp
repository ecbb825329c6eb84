// The frame check and page count of the Windows engine, on hand-written documents.
#include "print/pdf_bytes.h"

#include <gtest/gtest.h>

#include <string>

namespace zentrak {
namespace {

TEST(PdfBytes, Frame) {
  const std::string body(2000, 'x');
  struct Case {
    std::string bytes;
    bool pdf;
    const char* missing;  // a word of the reason when refused
  } cases[] = {
      {"%PDF-1.4\n1 0 obj<<>>endobj\n%%EOF\n", true, ""},
      {"%PDF-1.7\n" + body + "%%EOF", true, ""},                    // no line break after the marker
      {std::string(500, ' ') + "%PDF-1.4\n%%EOF", true, ""},        // junk before the header
      {std::string(1020, ' ') + "%PDF-1.4\n%%EOF", false, "header"},  // header past the first 1024 bytes
      {"%PDF-1.4\n%%EOF\n" + body, false, "%%EOF"},                 // marker not near the end
      {"", false, "header"},
      {"Hello, world", false, "header"},
      {"%PDF-1.4\n" + body, false, "%%EOF"},                        // cut short
      {"%!PS-Adobe-3.0\n%%EOF\n", false, "header"},
  };
  for (const Case& c : cases) {
    std::string reason;
    EXPECT_EQ(LooksLikePdf(c.bytes, reason), c.pdf) << c.bytes.substr(0, 40);
    if (!c.pdf) EXPECT_NE(reason.find(c.missing), std::string::npos) << reason;
  }
}

TEST(PdfBytes, PageObjects) {
  struct Case {
    const char* bytes;
    int pages;
  } cases[] = {
      {"<</Type /Pages /Kids [3 0 R 4 0 R] /Count 2>> <</Type /Page>> <</Type /Page /Parent 2 0 R>>", 2},
      {"<</Type/Page/Parent 2 0 R>><</Type\r\n/Page>>", 2},  // no space, or a line break
      {"<</Type /Page>>", 1},
      {"<</Type /Page", 1},                                  // the name at the very end
      {"<</Type /Pages>> <</Type /PageLabel>>", 0},
      {"<</Types /Page>> <</Type /Catalog>>", 0},
      {"<</Type /Page[]>>", 1},                              // a delimiter ends the name
      {"", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(CountPdfPages(c.bytes), c.pages) << c.bytes;
}

}  // namespace
}  // namespace zentrak
