// Translation between the platform's VARIANT and the portable Variant, and the error object that a
// failed member leaves for its caller.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <memory>

#include "automation/dispatch.h"
#include "automation/variant.h"

namespace zentrak::com {

// The value a VARIANT holds, by-reference values included (their flag is kept, and the payload
// is read through the reference). Objects are held by reference.
Variant FromVariant(const VARIANT& v);

// Writes value into out, which the caller has initialised or cleared; objects get a reference.
void ToVariant(const Variant& value, VARIANT* out);

// The COM object behind a Dispatch or Unknown Variant, or null when it holds none.
IUnknown* ObjectOf(const Variant& value);

// Makes record the thread's current error information. Returns false if the error object could
// not be created.
bool SetErrorRecord(const ErrorRecord& record) noexcept;

}  // namespace zentrak::com
