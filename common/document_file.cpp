// The preview's document file.
#include "common/document_file.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <random>

#include "base/exception.h"
#include "codec/base64.h"
#include "platform/env.h"
#include "platform/files.h"

namespace zentrak {

std::string SaveDocumentToFile(std::string_view doc) {
  std::string bytes = DecodeBase64(doc);
  std::string folder = platform::UserProfileDir() + "\\Zentrak";
  if (!platform::DirectoryExists(folder)) platform::MakeDirectory(folder);

  std::time_t now = std::time(nullptr);
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &now);
#else
  localtime_r(&now, &local);
#endif
  // Seeded from the high-resolution clock just before the number is drawn, so that two files
  // of the same second differ unless the numbers coincide.
  std::minstd_rand random(static_cast<std::minstd_rand::result_type>(
      std::chrono::high_resolution_clock::now().time_since_epoch().count()));
  int number = std::uniform_int_distribution<int>(0, 99)(random);
  char stamp[48];
  std::snprintf(stamp, sizeof stamp, "%04d%02d%02d%02d%02d%02d%d", local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, number);
  std::string name = folder + "\\ToPrint" + stamp + ".pdf";

  std::string file = platform::NativePath(name);
  if (platform::FileExists(file)) platform::RemoveFile(file);
  std::string reason;
  if (!platform::WriteNewFile(file, bytes, reason)) {
    throw Exception("Cannot create file \"" + platform::FullPath(file) + "\". " + reason);
  }
  return name;
}

}  // namespace zentrak
