// The frame check and the page object count of PDF bytes.
#include "print/pdf_bytes.h"

#include <algorithm>

namespace zentrak {
namespace {

// Readers accept the header and the end marker this far from their ends of the file.
constexpr size_t kMarkerWindow = 1024;

// White space of PDF: NUL, tab, LF, FF, CR and space.
bool IsPdfSpace(char c) { return c == 0 || c == '\t' || c == '\n' || c == '\f' || c == '\r' || c == ' '; }

// Characters that end a PDF name: white space and the delimiters.
bool EndsName(char c) {
  return IsPdfSpace(c) || c == '/' || c == '<' || c == '>' || c == '[' || c == ']' || c == '(' || c == ')' ||
         c == '{' || c == '}' || c == '%';
}

}  // namespace

bool LooksLikePdf(std::string_view bytes, std::string& reason) {
  if (bytes.substr(0, kMarkerWindow).find("%PDF-") == std::string_view::npos) {
    reason = "the document is not a PDF document (no %PDF- header)";
    return false;
  }
  size_t tail = bytes.size() > kMarkerWindow ? bytes.size() - kMarkerWindow : 0;
  if (bytes.substr(tail).find("%%EOF") == std::string_view::npos) {
    reason = "the document is not a complete PDF document (no %%EOF at its end)";
    return false;
  }
  return true;
}

int CountPdfPages(std::string_view bytes) {
  constexpr std::string_view kType = "/Type";
  constexpr std::string_view kPage = "/Page";
  int pages = 0;
  for (size_t at = bytes.find(kType); at != std::string_view::npos; at = bytes.find(kType, at + 1)) {
    size_t p = at + kType.size();
    if (p < bytes.size() && !EndsName(bytes[p])) continue;  // a longer name, such as /Types
    while (p < bytes.size() && IsPdfSpace(bytes[p])) ++p;
    if (bytes.substr(p, kPage.size()) != kPage) continue;
    p += kPage.size();
    if (p == bytes.size() || EndsName(bytes[p])) ++pages;  // not /Pages
  }
  return pages;
}

}  // namespace zentrak
