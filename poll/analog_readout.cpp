#include "poll/analog_readout.h"

#include "meter/analog.h"
#include "text/number_text.h"
#include "text/text_format.h"

namespace qm::poll {

std::string FormatAnalogReadout(uint8_t code, uint8_t firstHi, uint8_t firstLo, uint8_t secondHi,
                                uint8_t secondLo, uint32_t pt, uint32_t ct) {
  using meter::Quantity;
  using text::Printf;
  const uint16_t first = static_cast<uint16_t>(firstHi << 8 | firstLo);
  const uint16_t second = static_cast<uint16_t>(secondHi << 8 | secondLo);

  switch (meter::AnalogClassOf(code)) {
    case meter::AnalogClass::Limit:
    case meter::AnalogClass::FixedValue:
      return Printf("%.0f,%.0f,%d", static_cast<double>(static_cast<float>(first)),
                    static_cast<double>(second), static_cast<int>(meter::AnalogUnit::None));
    case meter::AnalogClass::Measured:
      break;
    default:
      return {};
  }

  const Quantity quantity = *meter::AnalogQuantity(code);
  const bool signedFirst = meter::AnalogLeftSigned(quantity);
  const double a =
      signedFirst ? static_cast<double>(static_cast<int16_t>(first)) : static_cast<double>(first);
  const double b = second;
  const double p = pt, c = ct;
  const int unit = static_cast<int>(meter::AnalogUnitOf(quantity));

  // The first value is shown at single precision, the second too where the first is signed.
  const auto single = [](double x) { return static_cast<double>(static_cast<float>(x)); };
  const auto shownSecond = [&](double x) { return signedFirst ? single(x) : x; };

  // The inverse of the analog conversion of the commands, factor for factor.
  constexpr double kVolts = 1 / meter::kVoltageDivisor;
  constexpr double kAmperes = 1 / meter::kCurrentDivisor;
  constexpr double kPowerFactor = 1 / meter::kPowerFactorDivisor;
  constexpr double kApparent = 1 / meter::kApparentDivisor;
  constexpr double kHertz = meter::kFrequencyFactor;
  constexpr double kPower = meter::kPowerSettingStep;
  switch (quantity) {
    case Quantity::Voltage:
      return Printf("%.0f,%.0f,%d", single(a * kVolts * p), shownSecond(b * kVolts * p), unit);
    case Quantity::Current:
      return Printf("%.3f,%.3f,%d", single(a * kAmperes * c), shownSecond(b * kAmperes * c), unit);
    case Quantity::Frequency:
      return Printf("%.3f,%.3f,%d", single(a * kHertz), shownSecond(b * kHertz), unit);
    case Quantity::ActivePower:
      return Printf("%.0f,%.0f,%d", single(a * kPower * p * c), shownSecond(b * kPower * p * c), unit);
    case Quantity::PowerFactor:
      return Printf("%.3f,%.3f,%d", single(a * kPowerFactor), shownSecond(b * kPowerFactor), unit);
    case Quantity::ReactivePower:
      return Printf("%.0f,%.0f,%d", single(a * kPower * p * c), shownSecond(b * kPower * p * c), unit);
    case Quantity::ApparentPower:
      return Printf("%.0f,%.0f,%d", single(a * kApparent * p * c), shownSecond(b * kApparent * p * c), unit);
    default:
      return {};
  }
}

ReadoutRow MakeReadoutRow(uint8_t code, const std::string& text) {
  ReadoutRow row;
  const size_t firstComma = text.find(',');
  const size_t lastComma = text.rfind(',');
  row.unit = text::LeadingInteger(lastComma == std::string::npos ? text : text.substr(lastComma + 1));
  if (firstComma != std::string::npos) {
    row.left = text.substr(0, firstComma);
    const size_t secondComma = text.find(',', firstComma + 1);
    row.right = text.substr(
        firstComma + 1, secondComma == std::string::npos ? std::string::npos : secondComma - firstComma - 1);
  }
  if (code == meter::kAnalogFixedValue) row.left = "  / ";
  return row;
}

}  // namespace qm::poll
