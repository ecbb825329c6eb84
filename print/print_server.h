// TPrintServer, the implementation class of PrintServer: printing of Base64 PDF documents on
// installed printers through virtual printer names, and the compressed-text codec for script.
#pragma once

#include <memory>
#include <span>

#include "automation/automation_object.h"
#include "sqlite/sqlite_database.h"

namespace zentrak {

class TPrintServer : public AutomationObject {
 public:
  TPrintServer();
  ~TPrintServer() override;

  void Invoke(const MemberDesc& member, std::span<Variant> args, Variant& result) override;

  void compress(const Variant& Doc, Variant& result);
  void deCompress(const Variant& Doc, Variant& result);

 private:
  std::unique_ptr<TSQLiteDatabase> Database;
};

}  // namespace zentrak
