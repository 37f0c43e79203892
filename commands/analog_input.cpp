#include "commands/analog_input.h"

#include <cmath>

#include "meter/analog.h"
#include "meter/quantities.h"
#include "meter/registers.h"
#include "text/number_text.h"

namespace qm::commands {

namespace {

// The meter holds these unsigned: a negative entry in two's complement would set a huge value.
bool CannotBeNegative(meter::Quantity q) {
  using meter::Quantity;
  return q == Quantity::Voltage || q == Quantity::Current || q == Quantity::Frequency ||
         q == Quantity::ApparentPower;
}

}  // namespace

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
  using meter::Quantity;
  const double PT = pt;
  const double CT = ct;
  double q = 0.0;
  switch (meter::AnalogClassOf(code)) {
    case meter::AnalogClass::Limit:
    case meter::AnalogClass::FixedValue:
      q = x;
      break;
    case meter::AnalogClass::Measured:
      if (x < 0 && CannotBeNegative(*meter::AnalogQuantity(code))) return std::nullopt;
      switch (*meter::AnalogQuantity(code)) {
        case Quantity::Voltage:
          q = x * meter::kVoltageDivisor / PT;
          break;
        case Quantity::Current:
          q = x * meter::kCurrentDivisor / CT;
          break;
        case Quantity::Frequency:
          q = x / meter::kFrequencyFactor;
          break;
        case Quantity::ActivePower:
        case Quantity::ReactivePower:
          q = x / (PT * meter::kPowerSettingStep * CT);
          break;
        case Quantity::PowerFactor:
          q = x / (1 / meter::kPowerFactorDivisor);
          break;
        case Quantity::ApparentPower:
          q = x / (PT * (1 / meter::kApparentDivisor) * CT);
          break;
        default:
          return std::nullopt;
      }
      break;
    default:
      return std::nullopt;
  }
  // A ratio of 0 read from the meter gives an infinity or NaN here: refused like any value too big.
  if (!std::isfinite(q)) return std::nullopt;
  const double t = TruncateToRegisterUnits(q);
  if (t < -32768.0 || t > 65535.0) return std::nullopt;
  return static_cast<uint16_t>(static_cast<int32_t>(t));
}

std::optional<RegisterWrite> AnalogSelectionWrite(int code) {
  if (code < 0 || code >= meter::kAnalogCodeCount) return std::nullopt;
  return RegisterWrite{meter::setting::kAnalogSelection, static_cast<uint16_t>(code), link::ReplyMode::None};
}

AnalogWrite PlanAnalogWrite(int code, std::string_view left, std::string_view right, uint32_t pt,
                            uint32_t ct) {
  AnalogWrite plan;
  const std::optional<RegisterWrite> selection = AnalogSelectionWrite(code);
  if (!selection) return plan;  // NoSelection

  std::vector<RegisterWrite> writes{*selection};
  if (code != meter::kAnalogNone) {
    const bool hasLeft = meter::AnalogLeftRegister(code).has_value();
    const auto rightValue = AnalogRegisterValue(code, text::LeadingNumber(right), pt, ct);
    std::optional<uint16_t> leftValue;
    if (hasLeft) leftValue = AnalogRegisterValue(code, text::LeadingNumber(left), pt, ct);
    if (!rightValue || (hasLeft && !leftValue)) {
      plan.outcome = AnalogWriteOutcome::OutOfRange;
      return plan;
    }
    writes.push_back({*meter::AnalogRightRegister(code), *rightValue, link::ReplyMode::None});
    if (leftValue) writes.push_back({*meter::AnalogLeftRegister(code), *leftValue, link::ReplyMode::Drain});
  }
  plan.outcome = AnalogWriteOutcome::Write;
  plan.writes = std::move(writes);
  return plan;
}

}  // namespace qm::commands
