#pragma once
#include <cstdint>
#include <span>
#include <string>

namespace qm::poll {

// The settings block: 26 registers read at 0x0300. Data byte k is the setting written at 0x0300 + k
// (or at k).
constexpr uint16_t kSettingsAddress = 0x0300;
constexpr uint16_t kSettingsQuantity = 26;
constexpr int kSettingsBytes = 2 * kSettingsQuantity;

// What one poll cycle takes from the settings block.
struct SettingsValues {
  uint8_t slaveAddress = 0;      // byte 1
  uint8_t wiring = 0;            // byte 3
  uint8_t baudCode = 0;          // byte 9: the meter's baud code
  uint8_t powerScaleByte = 0;    // byte 11
  int32_t powerScale = 1;        // 4 when byte 11 is 1, else 1
  int32_t energyMultiplier = 1;  // 10 to the power of byte 13
  uint32_t pt = 1;               // bytes 14..15
  uint32_t ct = 1;               // bytes 18..19
  uint8_t accuracy = 0;          // byte 35
  int32_t powerDirection = 0;    // byte 39
  uint8_t analogSelection = 0;   // byte 49
};

// Energy multiplier of decade n: 1 .. 1000000 for 0 .. 6. A decade past the table keeps
// `previous`, so a corrupt or newer setting never reads past the table's seven entries.
int32_t EnergyMultiplier(uint8_t decade, int32_t previous);

SettingsValues ParseSettings(std::span<const uint8_t, kSettingsBytes> data, int32_t previousEnergyMultiplier);

// Hidden diagnostic edits 1079 and 1021.
std::string SettingsCountText(uint32_t goodSettings, int32_t powerDirection);
std::string SettingsDiagnosticText(const SettingsValues& values);

// Caption of button 1009: "0.5级", "0.2级", or empty for any other accuracy code.
// The command line names the accuracy class by it too.
std::string AccuracyCaption(uint8_t accuracy);

}  // namespace qm::poll
