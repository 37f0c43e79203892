#pragma once
#include <optional>

// What the meter measures and how its raw counts scale to engineering units.
namespace qm::meter {

enum class Quantity {
  Voltage,
  Current,
  Frequency,
  ActivePower,
  PowerFactor,
  ReactivePower,
  ApparentPower,
  ImportActiveEnergy,
  ExportActiveEnergy,
  ImportReactiveEnergy,
  ExportReactiveEnergy,
};

// The quantity of word `word` of the measurement block: words 0..31 are four groups (phase A, B, C,
// combined) of phase voltage, line voltage, current, frequency, active power, power factor,
// reactive power and apparent power; the energies take two words each from 33 on, low word first.
// None for word 32 and the second words of the energies.
std::optional<Quantity> WordQuantity(int word);

bool IsEnergy(Quantity q);

// The SI unit of a quantity's engineering value ("V", "var", "Wh"); empty for the power factor.
const char* SiUnit(Quantity q);
// Raw words of these quantities are two's complement; all others are unsigned.
bool IsSignedMeasurement(Quantity q);

// Scaling of the raw counts. Voltages and currents follow the PT and CT ratios, powers and energies
// both; active and reactive power also the power scale of the settings block.
inline constexpr double kVoltageDivisor = 100;          // raw / 100 × PT volts
inline constexpr double kCurrentDivisor = 10000;        // raw / 10000 × CT amperes
inline constexpr double kFrequencyFactor = 0.00106813;  // raw × factor hertz
inline constexpr double kPowerDivisor = 10;             // raw × PT × CT × power scale / 10 W or var
inline constexpr double kPowerFactorDivisor = 10000;
inline constexpr double kApparentDivisor = 5;  // raw × PT × CT / 5 VA
// The energies count raw × energy multiplier × PT × CT Wh or varh.

// Power scale: 4 when the power scale byte of the settings block is 1, else 1.
inline constexpr int kHighPowerScale = 4;
constexpr int PowerScale(int powerScaleByte) { return powerScaleByte == 1 ? kHighPowerScale : 1; }

// The analog output settings of active and reactive power count in steps of 0.4 × PT × CT, the
// high power scale, whatever the meter's power scale is.
inline constexpr double kPowerSettingStep = kHighPowerScale / kPowerDivisor;
static_assert(kPowerSettingStep == 0.4);
static_assert(1 / kVoltageDivisor == 0.01 && 1 / kCurrentDivisor == 0.0001 && 1 / kApparentDivisor == 0.2);

}  // namespace qm::meter
