#include "meter/quantities.h"

#include <array>

namespace qm::meter {

std::optional<Quantity> WordQuantity(int word) {
  static constexpr std::array<Quantity, 8> kGroup{
      Quantity::Voltage,     Quantity::Voltage,     Quantity::Current,       Quantity::Frequency,
      Quantity::ActivePower, Quantity::PowerFactor, Quantity::ReactivePower, Quantity::ApparentPower};
  if (word >= 0 && word < 32) return kGroup[static_cast<size_t>(word % 8)];
  switch (word) {
    case 33:
      return Quantity::ImportActiveEnergy;
    case 35:
      return Quantity::ExportActiveEnergy;
    case 37:
      return Quantity::ImportReactiveEnergy;
    case 39:
      return Quantity::ExportReactiveEnergy;
    default:
      return std::nullopt;
  }
}

bool IsEnergy(Quantity q) {
  return q == Quantity::ImportActiveEnergy || q == Quantity::ExportActiveEnergy ||
         q == Quantity::ImportReactiveEnergy || q == Quantity::ExportReactiveEnergy;
}

const char* SiUnit(Quantity q) {
  switch (q) {
    case Quantity::Voltage:
      return "V";
    case Quantity::Current:
      return "A";
    case Quantity::Frequency:
      return "Hz";
    case Quantity::ActivePower:
      return "W";
    case Quantity::PowerFactor:
      return "";
    case Quantity::ReactivePower:
      return "var";
    case Quantity::ApparentPower:
      return "VA";
    case Quantity::ImportActiveEnergy:
    case Quantity::ExportActiveEnergy:
      return "Wh";
    case Quantity::ImportReactiveEnergy:
    case Quantity::ExportReactiveEnergy:
      return "varh";
  }
  return "";
}

bool IsSignedMeasurement(Quantity q) {
  return q == Quantity::ActivePower || q == Quantity::PowerFactor || q == Quantity::ReactivePower;
}

}  // namespace qm::meter
