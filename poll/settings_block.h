#pragma once
#include <cstdint>
#include <span>
#include <string>

#include "meter/registers.h"

namespace qm::poll {

// What one poll cycle takes from the settings block.
struct SettingsValues {
  uint8_t slaveAddress = 0;
  uint8_t wiring = 0;
  uint8_t baudCode = 0;
  uint8_t powerScaleByte = 0;
  int32_t powerScale = 1;        // meter::PowerScale of the byte
  int32_t energyMultiplier = 1;  // meter::EnergyMultiplier of the energy decade
  uint32_t pt = 1;
  uint32_t ct = 1;
  uint8_t accuracy = 0;
  int32_t powerDirection = 0;
  uint8_t analogSelection = 0;
};

// The settings block's own values, unscaled; the poll cycle uses all but the baud code.
SettingsValues ParseSettings(std::span<const uint8_t, meter::kSettingsBytes> data,
                             int32_t previousEnergyMultiplier);

// Hidden diagnostic edits 1079 and 1021.
std::string SettingsCountText(uint32_t goodSettings, int32_t powerDirection);
std::string SettingsDiagnosticText(const SettingsValues& values);

}  // namespace qm::poll
