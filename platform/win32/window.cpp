// Modal windows on Windows: not built yet.
#include "platform/window.h"

#include "base/exception.h"

namespace zentrak::platform {

std::unique_ptr<ModalWindow> CreateModalWindow(const std::string&, int, int, std::function<void()>) {
  throw ENotAvailable("The modal window");
}

}  // namespace zentrak::platform
