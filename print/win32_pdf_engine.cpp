// The PDF engine on Windows: not built yet.
#include "base/exception.h"
#include "print/pdf_engine.h"

namespace zentrak {

std::unique_ptr<PdfEngine> CreatePlatformPdfEngine(PrintDestination) { throw ENotAvailable("The PDF engine"); }

}  // namespace zentrak
