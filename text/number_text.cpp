#include "text/number_text.h"

#include <charconv>
#include <climits>
#include <limits>

namespace qm::text {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

// Skips the leading blanks and one sign; returns where the digits may start.
size_t SkipBlanksAndSign(std::string_view text, bool& negative) {
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  return i;
}

size_t SkipDigits(std::string_view text, size_t i) {
  while (i < text.size() && IsDigit(text[i])) ++i;
  return i;
}

// Decimal magnitude of a mantissa: how many places its first significant digit lies left of the
// point (negative when right of it). Only used to tell an overflow from an underflow.
long Magnitude(std::string_view intDigits, std::string_view fracDigits) {
  const size_t firstInt = intDigits.find_first_not_of('0');
  if (firstInt != std::string_view::npos) return static_cast<long>(intDigits.size() - firstInt);
  const size_t firstFrac = fracDigits.find_first_not_of('0');
  if (firstFrac != std::string_view::npos) return -static_cast<long>(firstFrac);
  return std::numeric_limits<long>::min() / 2;  // all zeros: never an overflow
}

}  // namespace

long long LeadingInteger(std::string_view text) {
  bool negative = false;
  const size_t start = SkipBlanksAndSign(text, negative);
  const size_t end = SkipDigits(text, start);
  long long value = 0;
  if (std::from_chars(text.data() + start, text.data() + end, value).ec == std::errc::result_out_of_range)
    value = LLONG_MAX;
  return negative ? -value : value;
}

double LeadingNumber(std::string_view text) {
  bool negative = false;
  const size_t start = SkipBlanksAndSign(text, negative);
  size_t i = SkipDigits(text, start);
  const std::string_view intDigits = text.substr(start, i - start);
  std::string_view fracDigits;
  if (i < text.size() && text[i] == '.') {
    const size_t fracStart = ++i;
    i = SkipDigits(text, i);
    fracDigits = text.substr(fracStart, i - fracStart);
  }
  if (intDigits.empty() && fracDigits.empty()) return 0.0;

  // An exponent counts only when digits follow it ("2e" is the number 2).
  long exponent = 0;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    size_t j = i + 1;
    bool expNegative = false;
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) expNegative = text[j++] == '-';
    if (j < text.size() && IsDigit(text[j])) {
      for (; j < text.size() && IsDigit(text[j]); ++j)
        if (exponent < 100000) exponent = exponent * 10 + (text[j] - '0');
      if (expNegative) exponent = -exponent;
      i = j;
    }
  }

  double value = 0.0;
  const char* first = text.data() + start;
  const char* last = text.data() + i;
  const auto [ptr, ec] = std::from_chars(first, last, value, std::chars_format::general);
  if (ec == std::errc::result_out_of_range) {
    value = Magnitude(intDigits, fracDigits) + exponent > 0 ? std::numeric_limits<double>::infinity() : 0.0;
  } else if (ec != std::errc() || ptr != last) {
    return 0.0;  // cannot happen for the pattern checked above; stay on the safe side
  }
  return negative ? -value : value;
}

}  // namespace qm::text
