#include "poll/measurements.h"

#include <array>
#include <cmath>

#include "meter/analog.h"
#include "text/text_format.h"

namespace qm::poll {

namespace {

using meter::IsEnergy;
using meter::IsSignedMeasurement;

// The shown words in write order. The per-phase frequencies (words 3, 11, 19) and word 32 are not
// shown; each energy counter takes two words.
constexpr std::array<MeasurementSlot, 33> kSlots{{
    {0},  {1},  {2},  {4},  {5},  {6},  {7},         // phase A
    {8},  {9},  {10}, {12}, {13}, {14}, {15},        // phase B
    {16}, {17}, {18}, {20}, {21}, {22}, {23},        // phase C
    {24}, {25}, {26}, {27}, {28}, {29}, {30}, {31},  // combined, frequency
    {33}, {35}, {37}, {39},                          // energies
}};

// Formats by unit step; nullptr where the quantity has no such step.
struct Formats {
  const char* base;
  const char* kilo;
  const char* mega;
};

Formats FormatsOf(Quantity q) {
  switch (q) {
    case Quantity::Voltage:
      return {"%.2f V", "%.2f KV", nullptr};
    case Quantity::Current:
      return {"%.3f A", "%.3f KA", nullptr};
    case Quantity::Frequency:
      return {"%.3f Hz", nullptr, nullptr};
    case Quantity::PowerFactor:
      return {"%.4f", nullptr, nullptr};
    case Quantity::ActivePower:
      return {"%.1f W", "%.3f KW", "%.3f MW"};
    case Quantity::ReactivePower:
      return {"%.1f Var", "%.3f KVar", "%.3f MVar"};
    case Quantity::ApparentPower:
      return {"%.1f VA", "%.3f KVA", "%.3f MVA"};
    case Quantity::ImportActiveEnergy:
      return {"%.1f Wh", "%.3f KWh", "%.3f MWh"};
    case Quantity::ExportActiveEnergy:
      return {"-%.1f Wh", "-%.3f KWh", "-%.3f MWh"};
    case Quantity::ImportReactiveEnergy:
      return {"%.1f Varh", "%.3f KVarh", "%.3f MVarh"};
    case Quantity::ExportReactiveEnergy:
      return {"-%.1f Varh", "-%.3f KVarh", "-%.3f MVarh"};
  }
  return {"%.3f", nullptr, nullptr};
}

}  // namespace

std::span<const MeasurementSlot> MeasurementSlots() { return kSlots; }

std::string MeasurementName(int word) {
  // Selection list entry n stands for word n - 1.
  if (meter::AnalogClassOf(word + 1) == meter::AnalogClass::Measured)
    return meter::kAnalogEntryNames[static_cast<size_t>(word + 1)];
  switch (meter::WordQuantity(word).value_or(Quantity::Voltage)) {
    case Quantity::ImportActiveEnergy:
      return "EPimp";
    case Quantity::ExportActiveEnergy:
      return "EPexp";
    case Quantity::ImportReactiveEnergy:
      return "EQimp";
    case Quantity::ExportReactiveEnergy:
      return "EQexp";
    default:
      return {};
  }
}

double EngineeringValue(Quantity quantity, int64_t raw, const Scaling& s) {
  const double r = static_cast<double>(raw);
  const double pt = s.pt, ct = s.ct;
  switch (quantity) {
    case Quantity::Voltage:
      return r * pt / meter::kVoltageDivisor;
    case Quantity::Current:
      return r * ct / meter::kCurrentDivisor;
    case Quantity::Frequency:
      return r * meter::kFrequencyFactor;
    case Quantity::ActivePower:
    case Quantity::ReactivePower:
      return r * pt * ct * s.powerScale / meter::kPowerDivisor;
    case Quantity::ApparentPower:
      return r * pt * ct / meter::kApparentDivisor;
    case Quantity::PowerFactor:
      return r / meter::kPowerFactorDivisor;
    case Quantity::ImportActiveEnergy:
    case Quantity::ExportActiveEnergy:
    case Quantity::ImportReactiveEnergy:
    case Quantity::ExportReactiveEnergy:
      return r * s.energyMultiplier * pt * ct;
  }
  return r;
}

std::string FormatQuantity(Quantity quantity, double value) {
  const Formats f = FormatsOf(quantity);
  // Powers choose their unit on the magnitude but print the signed value.
  const double compared =
      IsSignedMeasurement(quantity) || quantity == Quantity::ApparentPower ? std::fabs(value) : value;
  if (f.mega && compared > 1000000.0) return text::Printf(f.mega, value / 1000000.0);
  if (f.kilo && compared > 1000.0) return text::Printf(f.kilo, value / 1000.0);
  return text::Printf(f.base, value);
}

std::vector<Measurement> DecodeMeasurements(std::span<const uint8_t, meter::kMeasurementBytes> data,
                                            const Scaling& scaling) {
  const auto word = [&data](int n) {
    return static_cast<uint16_t>(data[static_cast<size_t>(2 * n)] << 8 |
                                 data[static_cast<size_t>(2 * n + 1)]);
  };
  std::vector<Measurement> out;
  out.reserve(kSlots.size());
  for (const MeasurementSlot& slot : kSlots) {
    const Quantity quantity = *meter::WordQuantity(slot.word);
    int64_t raw;
    if (IsEnergy(quantity))  // low word first, each word high byte first
      raw = static_cast<int64_t>(static_cast<uint32_t>(word(slot.word + 1)) << 16 | word(slot.word));
    else if (IsSignedMeasurement(quantity))
      raw = static_cast<int16_t>(word(slot.word));
    else
      raw = word(slot.word);
    const double value = EngineeringValue(quantity, raw, scaling);
    out.push_back({slot, quantity, value, FormatQuantity(quantity, value)});
  }
  return out;
}

}  // namespace qm::poll
