// The general decimal form of a floating-point number with at most 15 significant digits, as
// every number leaves the system: cell texts, variant text and JSON numbers.
#pragma once

#include <string>

namespace zentrak {

// Fixed notation when the decimal exponent e (value = 0.d1d2.. x 10^e) lies in min_fixed..15,
// scientific otherwise ("1E15", "1.5E-7"). Trailing zeros and an unneeded separator are dropped.
// Infinities are "INF" / "-INF", not-a-number "NAN", and both zeros "0".
//
// Two rules use this form and differ only at the small end: JSON numbers and cell texts are fixed
// down to 0.0001 (e = -3, the default), a variant's text down to 0.00001 (kVariantMinFixed).
constexpr int kJsonMinFixed = -3;
constexpr int kVariantMinFixed = -4;
void AppendGeneralNumber(long double value, char decimal_separator, std::string& out, int min_fixed = kJsonMinFixed);
std::string GeneralNumberText(long double value, char decimal_separator, int min_fixed = kJsonMinFixed);

}  // namespace zentrak
