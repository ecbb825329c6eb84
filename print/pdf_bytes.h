// A light look at PDF bytes, for an engine that hands documents to a printer as they are: whether
// the bytes have the frame of a PDF file, and how many page objects lie uncompressed in them.
// Portable: no PDF library is involved.
#pragma once

#include <string>
#include <string_view>

namespace zentrak {

// True when bytes start with a "%PDF-" header (within the first 1024 bytes, where readers look
// for it) and hold an "%%EOF" marker within the last 1024 bytes. Otherwise false, with reason
// saying which part is missing.
bool LooksLikePdf(std::string_view bytes, std::string& reason);

// The number of page objects ("/Type /Page", with any white space or none between the two
// names) that are written in the clear. Pages inside compressed object streams are not seen, so
// such documents count 0: the count is a lower bound, 0 when unknown.
int CountPdfPages(std::string_view bytes);

}  // namespace zentrak
