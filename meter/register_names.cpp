#include "meter/register_names.h"

#include "meter/registers.h"

namespace qm::meter {
namespace {

// A setting's name by its offset in the settings page; writes use either form of its register.
const char* SettingName(uint16_t offset) {
  switch (offset) {
    case setting::kSlaveAddress:
      return "slave address";
    case setting::kWiring:
      return "wiring";
    case setting::kEnergySwitch:
      return "energy clearing switch";
    case setting::kBaud:
      return "baud rate";
    case setting::kPowerScale:
      return "power scale";
    case setting::kEnergyDecade:
      return "energy decade";
    case setting::kPtRatio:
      return "PT ratio";
    case setting::kCtRatio:
      return "CT ratio";
    case setting::kEnergyClearFirst:
    case setting::kEnergyClearSecond:
      return "energy clearing";
    case setting::kAccuracy:
      return "accuracy class";
    case setting::kPowerDirection:
      return "power direction";
    case setting::kAnalogSelection:
      return "analog selection";
    default:
      return "";
  }
}

}  // namespace

std::string RegisterName(uint8_t function, uint16_t reg, uint16_t words) {
  if (function == 0x03) {
    if (reg == kMeasurementAddress && words == kMeasurementWords) return "measurements";
    if (reg == kSettingsAddress && words == kSettingsWords) return "settings";
    if (reg == kSettingsAddress && words == 1) return "slave address setting";
    if (reg == kIdentificationAddress && words == kIdentificationWords) return "identification";
    return "";
  }
  if (function != 0x06) return "";
  if ((reg & 0xFF00) == kSettingsAddress || reg < 0x0100) return SettingName(reg & 0x00FF);
  return "";
}

}  // namespace qm::meter
