// PrintServer: the binding of its members. Printing itself is not built yet; those members
// fail with a clear "not available yet" error.
#include "print/print_server.h"

#include "base/exception.h"

namespace zentrak {

TPrintServer::TPrintServer() : AutomationObject(*ZentrakTypeLibrary().classes[1]) {}
TPrintServer::~TPrintServer() = default;

void TPrintServer::compress(const Variant&, Variant&) { throw ENotAvailable("compress"); }
void TPrintServer::deCompress(const Variant&, Variant&) { throw ENotAvailable("deCompress"); }

void TPrintServer::Invoke(const MemberDesc& member, std::span<Variant> a, Variant& result) {
  switch (member.dispid) {
    case 207:
      return compress(a[0], result);
    case 208:
      return deCompress(a[0], result);
    default:
      // getVPrinters, getPhPrinters, preview, printOut, setDBName, printOutWithPage
      throw ENotAvailable(std::string("PrintServer.") + member.name);
  }
}

}  // namespace zentrak
