// The COM frame's failure guard, in the manner of a CATCH_RETURN: every entry point that the
// platform calls and that can fail (the exports, the class factory, the connection points, the
// vtable slots) runs its work through ComGuard, so that no exception crosses a vtable or an
// export. The classification itself is the automation layer's (automation/dispatch.h).
#pragma once

#include <windows.h>

#include "automation/dispatch.h"
#include "automation/typelib.h"

namespace zentrak::com {

// Makes outcome's error record, when it has one, the thread's error object, and returns the
// outcome's status.
HRESULT Report(const CallOutcome& outcome) noexcept;

// Runs work, a callable that returns an HRESULT, and returns what it returns. An error that
// escapes it becomes its status code; with cls, the error record (source, description, the
// class's interface) also becomes the thread's error object.
template <class Work>
HRESULT ComGuard(const ClassDesc* cls, Work&& work) noexcept {
  HRESULT hr = S_OK;
  CallOutcome outcome = Guarded(cls, [&] { hr = work(); });
  return outcome.status < 0 ? Report(outcome) : hr;
}

}  // namespace zentrak::com
