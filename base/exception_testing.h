// For tests: what a call raises, as text.
#pragma once

#include <functional>
#include <string>

#include "base/exception.h"

namespace zentrak {

// The message of the Exception that f raises, or "(no error)" when it raises none.
inline std::string RaisedMessage(const std::function<void()>& f) {
  try {
    f();
  } catch (const Exception& e) {
    return e.Message();
  }
  return "(no error)";
}

}  // namespace zentrak
