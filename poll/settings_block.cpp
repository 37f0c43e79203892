#include "poll/settings_block.h"

#include "meter/codes.h"
#include "meter/quantities.h"
#include "text/text_format.h"

namespace qm::poll {

SettingsValues ParseSettings(std::span<const uint8_t, meter::kSettingsBytes> d,
                             int32_t previousEnergyMultiplier) {
  namespace setting = meter::setting;
  const auto byte = [&d](uint16_t offset) { return d[meter::ByteOf(offset)]; };
  const auto word = [&d](uint16_t offset) { return static_cast<uint32_t>(d[offset] << 8 | d[offset + 1u]); };
  SettingsValues v;
  v.slaveAddress = byte(setting::kSlaveAddress);
  v.pt = word(setting::kPtRatio);
  v.ct = word(setting::kCtRatio);
  v.energyMultiplier = meter::EnergyMultiplier(byte(setting::kEnergyDecade), previousEnergyMultiplier);
  v.wiring = byte(setting::kWiring);
  v.baudCode = byte(setting::kBaud);
  v.accuracy = byte(setting::kAccuracy);
  v.powerDirection = byte(setting::kPowerDirection);
  v.analogSelection = byte(setting::kAnalogSelection);
  v.powerScaleByte = byte(setting::kPowerScale);
  v.powerScale = meter::PowerScale(v.powerScaleByte);
  return v;
}

std::string SettingsCountText(uint32_t goodSettings, int32_t powerDirection) {
  // The count is unsigned; printed as such it stays right past 2^31 replies.
  return text::Printf("%u,%d", static_cast<unsigned>(goodSettings), static_cast<int>(powerDirection));
}

std::string SettingsDiagnosticText(const SettingsValues& v) {
  return text::Printf("%d,%d,%d,%d,%d", static_cast<int>(v.pt), v.wiring, v.analogSelection, v.accuracy,
                      v.powerScaleByte);
}

}  // namespace qm::poll
