#pragma once
#include <string_view>

// Numbers at the start of a text, read the lenient C way: leading blanks, an optional sign, and
// whatever follows the number ignored. Both read the same whatever the locale.
namespace qm::text {

// A decimal integer: digits after the sign up to the first other character; no digits read as 0.
// Saturates at the largest magnitude instead of overflowing.
long long LeadingInteger(std::string_view text);

// A decimal number: digits with an optional point and fraction, then an exponent when digits follow
// it ("2e" is the number 2); no number reads as 0. A number too large for a double gives an
// infinity of its sign.
double LeadingNumber(std::string_view text);

}  // namespace qm::text
