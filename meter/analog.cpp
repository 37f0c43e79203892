#include "meter/analog.h"

#include "meter/registers.h"

namespace qm::meter {
namespace {

// Offsets in the settings page. Measured entries: right values from 0x5E, left values from 0x9E, a
// word per code (codes up to 32 never carry into the high byte).
constexpr uint16_t kRightBase = 0x5E;
constexpr uint16_t kLeftBase = 0x9E;
constexpr uint16_t kLimitRight = 0x34;
constexpr uint16_t kLimitLeft = 0x36;
constexpr uint16_t kFixedRight = 0x32;

constexpr uint16_t Wrapped(uint16_t base, int code) {
  return static_cast<uint16_t>((base + 2 * code) & 0xFF);
}

}  // namespace

AnalogClass AnalogClassOf(int code) {
  if (code == kAnalogNone) return AnalogClass::None;
  if (code == kAnalogUpperLimit || code == kAnalogLowerLimit) return AnalogClass::Limit;
  if (code == kAnalogFixedValue) return AnalogClass::FixedValue;
  if (code < 0 || code > kAnalogFixedValue) return AnalogClass::Invalid;
  return AnalogClass::Measured;
}

std::optional<Quantity> AnalogQuantity(int code) {
  if (AnalogClassOf(code) != AnalogClass::Measured) return std::nullopt;
  return WordQuantity(code - 1);
}

AnalogUnit AnalogUnitOf(Quantity q) {
  switch (q) {
    case Quantity::Voltage:
      return AnalogUnit::Volt;
    case Quantity::Current:
      return AnalogUnit::Ampere;
    case Quantity::Frequency:
      return AnalogUnit::Hertz;
    case Quantity::ActivePower:
      return AnalogUnit::Watt;
    case Quantity::ReactivePower:
      return AnalogUnit::Var;
    case Quantity::ApparentPower:
      return AnalogUnit::VoltAmpere;
    case Quantity::PowerFactor:
      return AnalogUnit::PowerFactor;
    default:  // the energies are no analog entry
      return AnalogUnit::None;
  }
}

bool AnalogLeftSigned(Quantity q) {
  return q == Quantity::ActivePower || q == Quantity::PowerFactor || q == Quantity::ReactivePower ||
         q == Quantity::ApparentPower;
}

std::optional<uint16_t> AnalogRightRegister(int code) {
  switch (AnalogClassOf(code)) {
    case AnalogClass::Invalid:
      return std::nullopt;
    case AnalogClass::FixedValue:
      return kFixedRight;
    case AnalogClass::Limit:
      return kLimitRight;
    default:
      return Wrapped(kRightBase, code);
  }
}

std::optional<uint16_t> AnalogLeftRegister(int code) {
  switch (AnalogClassOf(code)) {
    case AnalogClass::Invalid:
    case AnalogClass::FixedValue:
      return std::nullopt;
    case AnalogClass::Limit:
      return InPage(kLimitLeft);
    default:
      return InPage(Wrapped(kLeftBase, code));
  }
}

AnalogReadPair AnalogReadAddresses(uint8_t code) {
  switch (code) {
    case kAnalogNone:
      return {InPage(0), InPage(kRightBase)};
    case kAnalogUpperLimit:
    case kAnalogLowerLimit:
      return {InPage(kLimitLeft), InPage(kLimitRight)};
    case kAnalogFixedValue:
      return {InPage(0), InPage(kFixedRight)};
    default:
      return {InPage(Wrapped(kLeftBase, code)), InPage(Wrapped(kRightBase, code))};
  }
}

}  // namespace qm::meter
