#include "poll/settings_block.h"

#include <array>

#include "poll/text_format.h"

namespace qm::poll {

int32_t EnergyMultiplier(uint8_t decade, int32_t previous) {
  static constexpr std::array<int32_t, 7> kTable{1, 10, 100, 1000, 10000, 100000, 1000000};
  return decade < kTable.size() ? kTable[decade] : previous;
}

SettingsValues ParseSettings(std::span<const uint8_t, kSettingsBytes> d, int32_t previousEnergyMultiplier) {
  SettingsValues v;
  v.slaveAddress = d[1];
  v.pt = static_cast<uint32_t>(d[14] << 8 | d[15]);
  v.ct = static_cast<uint32_t>(d[18] << 8 | d[19]);
  v.energyMultiplier = EnergyMultiplier(d[13], previousEnergyMultiplier);
  v.wiring = d[3];
  v.baudCode = d[9];
  v.accuracy = d[35];
  v.powerDirection = d[39];
  v.analogSelection = d[49];
  v.powerScaleByte = d[11];
  v.powerScale = d[11] == 1 ? 4 : 1;
  return v;
}

std::string SettingsCountText(uint32_t goodSettings, int32_t powerDirection) {
  // The count is unsigned; printed as such it stays right past 2^31 replies.
  return Printf("%u,%d", static_cast<unsigned>(goodSettings), static_cast<int>(powerDirection));
}

std::string SettingsDiagnosticText(const SettingsValues& v) {
  return Printf("%d,%d,%d,%d,%d", static_cast<int>(v.pt), v.wiring, v.analogSelection, v.accuracy,
                v.powerScaleByte);
}

std::string AccuracyCaption(uint8_t accuracy) {
  switch (accuracy) {
    case 0:
      return "0.5级";
    case 1:
      return "0.2级";
    default:
      return {};
  }
}

}  // namespace qm::poll
