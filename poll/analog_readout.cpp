#include "poll/analog_readout.h"

#include <cctype>
#include <climits>

#include "poll/text_format.h"

namespace qm::poll {

const std::array<const char*, 36>& AnalogSelectionNames() {
  static constexpr std::array<const char*, 36> kNames{
      "无", "Ua", "Uca", "Ia", "F",  "Pa", "PFa", "Qa", "Sa", "Ub",   "Uab",  "Ib",
      "F",  "Pb", "PFb", "Qb", "Sb", "Uc", "Ubc", "Ic", "F",  "Pc",   "PFc",  "Qc",
      "Sc", "Ux", "Ul",  "I",  "F",  "P",  "PF",  "Q",  "S",  "上限", "下限", "定值"};
  return kNames;
}

AnalogPairAddresses AnalogPairFor(uint8_t code) {
  switch (code) {
    case kAnalogNone:
      return {0x0300, 0x035E};
    case kAnalogUpperLimit:
    case kAnalogLowerLimit:
      return {0x0336, 0x0334};
    case kAnalogFixedValue:
      return {0x0300, 0x0332};
    default:
      // 1..32 stay inside the page on their own; higher codes wrap in the low byte.
      return {static_cast<uint16_t>(0x0300 | ((0x9E + 2 * code) & 0xFF)),
              static_cast<uint16_t>(0x0300 | ((0x5E + 2 * code) & 0xFF))};
  }
}

namespace {

enum class Entry { Voltage, Current, Frequency, ActivePower, PowerFactor, ReactivePower, ApparentPower };

}  // namespace

std::string FormatAnalogReadout(uint8_t code, uint8_t firstHi, uint8_t firstLo, uint8_t secondHi,
                                uint8_t secondLo, uint32_t pt, uint32_t ct) {
  const uint16_t first = static_cast<uint16_t>(firstHi << 8 | firstLo);
  const uint16_t second = static_cast<uint16_t>(secondHi << 8 | secondLo);

  if (code == kAnalogUpperLimit || code == kAnalogLowerLimit || code == kAnalogFixedValue)
    return Printf("%.0f,%.0f,0", static_cast<double>(static_cast<float>(first)), static_cast<double>(second));
  if (code < 1 || code > 32) return {};

  // Entries 1..32 cycle through the eight quantities of a measurement group (two voltages first).
  static constexpr Entry kGroup[8] = {Entry::Voltage,       Entry::Voltage,      Entry::Current,
                                      Entry::Frequency,     Entry::ActivePower,  Entry::PowerFactor,
                                      Entry::ReactivePower, Entry::ApparentPower};
  const Entry entry = kGroup[(code - 1) % 8];
  const bool powerLike = entry == Entry::ActivePower || entry == Entry::PowerFactor ||
                         entry == Entry::ReactivePower || entry == Entry::ApparentPower;
  const double a = powerLike ? static_cast<double>(static_cast<int16_t>(first)) : static_cast<double>(first);
  const double b = second;
  const double p = pt, c = ct;

  // The first value is shown at single precision, the second too for the power-like entries.
  const auto single = [](double x) { return static_cast<double>(static_cast<float>(x)); };
  const auto second2 = [&](double x) { return powerLike ? single(x) : x; };

  switch (entry) {
    case Entry::Voltage:
      return Printf("%.0f,%.0f,1", single(a * 0.01 * p), second2(b * 0.01 * p));
    case Entry::Current:
      return Printf("%.3f,%.3f,2", single(a * 0.0001 * c), second2(b * 0.0001 * c));
    case Entry::Frequency:
      return Printf("%.3f,%.3f,3", single(a * 0.00106813), second2(b * 0.00106813));
    case Entry::ActivePower:
      return Printf("%.0f,%.0f,4", single(a * 0.4 * p * c), second2(b * 0.4 * p * c));
    case Entry::PowerFactor:
      return Printf("%.3f,%.3f,8", single(a * 0.0001), second2(b * 0.0001));
    case Entry::ReactivePower:
      return Printf("%.0f,%.0f,5", single(a * 0.4 * p * c), second2(b * 0.4 * p * c));
    case Entry::ApparentPower:
      return Printf("%.0f,%.0f,6", single(a * 0.2 * p * c), second2(b * 0.2 * p * c));
  }
  return {};
}

long long ParseLeadingInteger(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    const int digit = text[i] - '0';
    if (value > (LLONG_MAX - digit) / 10) {
      value = LLONG_MAX;
      break;
    }
    value = value * 10 + digit;
  }
  return negative ? -value : value;
}

ReadoutRow MakeReadoutRow(uint8_t code, const std::string& text) {
  ReadoutRow row;
  const size_t firstComma = text.find(',');
  const size_t lastComma = text.rfind(',');
  row.unit = ParseLeadingInteger(lastComma == std::string::npos ? text : text.substr(lastComma + 1));
  if (firstComma != std::string::npos) {
    row.left = text.substr(0, firstComma);
    const size_t secondComma = text.find(',', firstComma + 1);
    row.right = text.substr(
        firstComma + 1, secondComma == std::string::npos ? std::string::npos : secondComma - firstComma - 1);
  }
  if (code == kAnalogFixedValue) row.left = "  / ";
  return row;
}

}  // namespace qm::poll
