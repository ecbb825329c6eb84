// PrintServer: the binding of its members. Printing itself is not built yet; those members
// fail with a clear "not available yet" error.
#include "print/print_server.h"

#include "base/exception.h"
#include "codec/base64.h"
#include "codec/compressed_text.h"
#include "platform/codepage.h"
#include "automation/convert.h"
#include "automation/dispids.h"

namespace zentrak {

TPrintServer::TPrintServer() : AutomationObject(PrintServerClass()) {}
TPrintServer::~TPrintServer() = default;

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
    case dispid::print_server::kCompress:
      return compress(a[0], result);
    case dispid::print_server::kDeCompress:
      return deCompress(a[0], result);
    default:
      // getVPrinters, getPhPrinters, preview, printOut, setDBName, printOutWithPage
      throw ENotAvailable(std::string("PrintServer.") + member.name);
  }
}

}  // namespace zentrak
