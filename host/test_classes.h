// Classes that exist only for tests of the host: they let the wire tests and the browser tests
// drive paths that no shipped object takes yet, such as an event with a by-reference argument.
// zentrak-host serves them only when built with -DZENTRAK_TEST_CLASSES=ON and started with
// --test-classes.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "catalog/catalog.h"

namespace zentrak::host {

// Zentrak.PressTest: Press(Key) raises OnKeyPress(Key) with the key by reference and keeps what
// the page's handlers leave in it, read back through LastKey; Notice(Text) raises OnNotice(Text)
// and waits for nothing.
std::span<const CatalogEntry> TestClasses();

// Every key a PressTest object's OnKeyPress finished with, oldest first, across objects.
std::vector<int32_t>& PressTestFinishedKeys();

}  // namespace zentrak::host
