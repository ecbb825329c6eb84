// Asking the user whether a page's origin may use the host. The question is a window that does
// not block: the main loop keeps serving other requests while it is open, and the answer comes
// back through a callback on the main thread.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace zentrak::host {

enum class ApprovalAnswer {
  kAllow,      // kept in the configuration
  kBlock,      // kept in the configuration
  kDismissed,  // the window was closed without an answer: refused this time, asked again later
};

class OriginPrompter {
 public:
  virtual ~OriginPrompter() = default;
  // Shows the question for origin; `done` runs once, later, on the main loop.
  virtual void Ask(const std::string& origin, std::function<void(ApprovalAnswer)> done) = 0;
};

// The GTK window "Allow <origin> to use Zentrak on this computer?" with the buttons Allow and
// Block. REQUIRES: GTK is initialised on this thread (gtk_init_check succeeded).
std::unique_ptr<OriginPrompter> MakeGtkPrompter();

// The question's text for origin, and what answering it means.
std::string ApprovalQuestion(const std::string& origin);
std::string ApprovalExplanation(const std::string& origin);

}  // namespace zentrak::host
