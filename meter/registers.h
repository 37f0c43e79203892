#pragma once
#include <cstddef>
#include <cstdint>

// The QM7410's register map as the program uses it. Addresses count bytes: a read of N registers at
// A returns the 2N bytes at A .. A + 2N - 1, every word high byte first.
namespace qm::meter {

// Identification: model and version, one word each.
inline constexpr uint16_t kIdentificationAddress = 0x03E0;
inline constexpr uint16_t kIdentificationWords = 2;

// Measurement block: 41 words, laid out in measurements.h.
inline constexpr uint16_t kMeasurementAddress = 0x0000;
inline constexpr uint16_t kMeasurementWords = 41;
inline constexpr size_t kMeasurementBytes = 2 * kMeasurementWords;

// Settings block: the 26 words at the start of the page at 0x0300.
inline constexpr uint16_t kSettingsAddress = 0x0300;
inline constexpr uint16_t kSettingsWords = 26;
inline constexpr size_t kSettingsBytes = 2 * kSettingsWords;

// A setting at data byte offset k of the settings page is written either at register 0x0300 + k
// (InPage) or at register k; the meter takes both, and each command keeps the form it has always
// sent.
constexpr uint16_t InPage(uint16_t offset) { return static_cast<uint16_t>(kSettingsAddress | offset); }

// Offsets of the settings in the page. Each is one word; a one-byte setting sits in its low byte
// (ByteOf), the ratios fill the whole word.
namespace setting {
inline constexpr uint16_t kSlaveAddress = 0x00;
inline constexpr uint16_t kWiring = 0x02;
inline constexpr uint16_t kEnergySwitch = 0x04;  // 1 while the energy counters are being cleared
inline constexpr uint16_t kBaud = 0x08;
inline constexpr uint16_t kPowerScale = 0x0A;
inline constexpr uint16_t kEnergyDecade = 0x0C;
inline constexpr uint16_t kPtRatio = 0x0E;
inline constexpr uint16_t kCtRatio = 0x12;
inline constexpr uint16_t kEnergyClearFirst = 0x1A;  // written 0 to clear the energy counters
inline constexpr uint16_t kEnergyClearSecond = 0x1C;
inline constexpr uint16_t kAccuracy = 0x22;
inline constexpr uint16_t kPowerDirection = 0x26;
inline constexpr uint16_t kAnalogSelection = 0x30;
}  // namespace setting

// Data byte of a one-byte setting in the settings block.
constexpr size_t ByteOf(uint16_t offset) { return static_cast<size_t>(offset) + 1; }

}  // namespace qm::meter
