// The files the host serves itself: zentrak.js, zentrak.mjs, zentrak.d.ts and the demo pages.
// They are compiled into the program (host/embed_web.cmake writes the table), so the host
// serves the copies that match it wherever it is installed.
#pragma once

#include <cstddef>
#include <string_view>

namespace zentrak::host {

struct WebFile {
  std::string_view path;          // as requested: "/zentrak.js", "/demo/demo.js"
  std::string_view content_type;  // with charset for text
  std::string_view data;
};

// The file served at path, or null.
const WebFile* FindWebFile(std::string_view path);

}  // namespace zentrak::host
