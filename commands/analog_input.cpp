#include "commands/analog_input.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace qm {

AnalogClass AnalogClassOf(int code) {
  if (code == kAnalogNone) return AnalogClass::None;
  if (code == kAnalogUpperLimit || code == kAnalogLowerLimit) return AnalogClass::Limit;
  if (code == kAnalogFixedValue) return AnalogClass::FixedValue;
  if (code < 0 || code > kAnalogFixedValue) return AnalogClass::Invalid;
  // Codes 1..32 run through the same eight quantities for each of four groups.
  switch ((code - 1) % 8) {
    case 0:
    case 1: return AnalogClass::Voltage;
    case 2: return AnalogClass::Current;
    case 3: return AnalogClass::Frequency;
    case 4:
    case 6: return AnalogClass::Power;
    case 5: return AnalogClass::PowerFactor;
    default: return AnalogClass::ApparentPower;
  }
}

std::optional<uint16_t> AnalogRightRegister(int code) {
  if (code < 0 || code > kAnalogFixedValue) return std::nullopt;
  if (code == kAnalogFixedValue) return uint16_t{0x0032};
  if (code >= kAnalogUpperLimit) return uint16_t{0x0034};
  return static_cast<uint16_t>(0x005E + 2 * code);
}

std::optional<uint16_t> AnalogLeftRegister(int code) {
  if (code < 0 || code >= kAnalogFixedValue) return std::nullopt;
  if (code >= kAnalogUpperLimit) return uint16_t{0x0336};
  return static_cast<uint16_t>(0x039E + 2 * code);
}

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

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

double LeadingNumber(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';

  const size_t start = i;
  while (i < text.size() && IsDigit(text[i])) ++i;
  const std::string_view intDigits = text.substr(start, i - start);
  std::string_view fracDigits;
  if (i < text.size() && text[i] == '.') {
    const size_t fracStart = ++i;
    while (i < text.size() && IsDigit(text[i])) ++i;
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
      while (j < text.size() && IsDigit(text[j])) {
        if (exponent < 100000) exponent = exponent * 10 + (text[j] - '0');
        ++j;
      }
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

bool AnalogClassUnsigned(AnalogClass c) {
  return c == AnalogClass::Voltage || c == AnalogClass::Current || c == AnalogClass::Frequency ||
         c == AnalogClass::ApparentPower;
}

double TruncateToRegisterUnits(double q) {
  // A decimal entry such as 0.6 has no exact binary form, so its quotient can land a hair below the
  // integer the user meant (5999.9999999999991 for 6000); within this relative distance it counts as
  // that integer. Anything farther is truncated toward zero.
  constexpr double kRelativeTolerance = 1e-9;
  const double nearest = std::round(q);
  if (std::fabs(q - nearest) <= kRelativeTolerance * std::fabs(nearest)) return nearest;
  return std::trunc(q);
}

std::optional<uint16_t> AnalogRegisterValue(int code, double x, uint32_t pt, uint32_t ct) {
  const double PT = pt;
  const double CT = ct;
  const AnalogClass cls = AnalogClassOf(code);
  double q = 0.0;
  switch (cls) {
    case AnalogClass::Voltage: q = x * 100 / PT; break;
    case AnalogClass::Current: q = x * 10000 / CT; break;
    case AnalogClass::Frequency: q = x / 0.00106813; break;
    case AnalogClass::Power: q = x / (PT * 0.4 * CT); break;
    case AnalogClass::PowerFactor: q = x / 0.0001; break;
    case AnalogClass::ApparentPower: q = x / (PT * 0.2 * CT); break;
    case AnalogClass::Limit:
    case AnalogClass::FixedValue: q = x; break;
    case AnalogClass::None:
    case AnalogClass::Invalid: return std::nullopt;
  }
  // The meter holds these unsigned: a negative entry in two's complement would set a huge value.
  if (AnalogClassUnsigned(cls) && x < 0) return std::nullopt;
  // A ratio of 0 read from the meter gives an infinity or NaN here: refused like any value too big.
  if (!std::isfinite(q)) return std::nullopt;
  const double t = TruncateToRegisterUnits(q);
  if (t < -32768.0 || t > 65535.0) return std::nullopt;
  return static_cast<uint16_t>(static_cast<int32_t>(t));
}

AnalogWrite PlanAnalogWrite(int code, std::string_view left, std::string_view right, uint32_t pt, uint32_t ct) {
  AnalogWrite plan;
  if (code < 0 || code >= kAnalogCodeCount) return plan;  // NoSelection

  std::vector<RegisterWrite> writes{{kAnalogSelectionRegister, static_cast<uint16_t>(code), ReplyMode::None}};
  if (code != kAnalogNone) {
    const auto rightValue = AnalogRegisterValue(code, LeadingNumber(right), pt, ct);
    std::optional<uint16_t> leftValue;
    if (code != kAnalogFixedValue) leftValue = AnalogRegisterValue(code, LeadingNumber(left), pt, ct);
    if (!rightValue || (code != kAnalogFixedValue && !leftValue)) {
      plan.outcome = AnalogWriteOutcome::OutOfRange;
      return plan;
    }
    writes.push_back({*AnalogRightRegister(code), *rightValue, ReplyMode::None});
    if (leftValue) writes.push_back({*AnalogLeftRegister(code), *leftValue, ReplyMode::Drain});
  }
  plan.outcome = AnalogWriteOutcome::Write;
  plan.writes = std::move(writes);
  return plan;
}

}  // namespace qm
