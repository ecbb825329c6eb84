// The general decimal form of a floating-point number with at most 15 significant digits, as
// every number leaves the system: cell texts, variant text and JSON numbers.
#pragma once

#include <string>

namespace zentrak {

// Fixed notation when the decimal exponent e (value = 0.d1d2.. x 10^e) lies in -3..15,
// scientific otherwise ("1E15", "1.5E-7"). Trailing zeros and an unneeded separator are dropped.
// Infinities are "INF" / "-INF", not-a-number "NAN", and both zeros "0".
void AppendGeneralNumber(long double value, char decimal_separator, std::string& out);
std::string GeneralNumberText(long double value, char decimal_separator);

}  // namespace zentrak
