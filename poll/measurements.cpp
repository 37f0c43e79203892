#include "poll/measurements.h"

#include <array>
#include <cmath>

#include "meter/analog.h"
#include "text/text_format.h"
#include "ui/monitor_ids.h"

namespace qm::poll {

namespace {

namespace box = ui::monitor_ids;
using meter::IsEnergy;
using meter::IsSignedMeasurement;

// The box each shown word of the block goes to, in write order (phase A, B, C, then the combined
// group and the energies). The per-phase frequencies (words 3, 11, 19) and word 32 are not shown.
constexpr std::array<MeasurementSlot, 33> kSlots{{
    {0, box::kPhaseVoltage[box::kColumnA]},
    {1, box::kLineVoltage[box::kColumnA]},
    {2, box::kCurrent[box::kColumnA]},
    {4, box::kActivePower[box::kColumnA]},
    {5, box::kPowerFactor[box::kColumnA]},
    {6, box::kReactivePower[box::kColumnA]},
    {7, box::kApparentPower[box::kColumnA]},
    {8, box::kPhaseVoltage[box::kColumnB]},
    {9, box::kLineVoltage[box::kColumnB]},
    {10, box::kCurrent[box::kColumnB]},
    {12, box::kActivePower[box::kColumnB]},
    {13, box::kPowerFactor[box::kColumnB]},
    {14, box::kReactivePower[box::kColumnB]},
    {15, box::kApparentPower[box::kColumnB]},
    {16, box::kPhaseVoltage[box::kColumnC]},
    {17, box::kLineVoltage[box::kColumnC]},
    {18, box::kCurrent[box::kColumnC]},
    {20, box::kActivePower[box::kColumnC]},
    {21, box::kPowerFactor[box::kColumnC]},
    {22, box::kReactivePower[box::kColumnC]},
    {23, box::kApparentPower[box::kColumnC]},
    {24, box::kPhaseVoltage[box::kSum]},
    {25, box::kLineVoltage[box::kSum]},
    {26, box::kCurrent[box::kSum]},
    {27, box::kFrequency},
    {28, box::kActivePower[box::kSum]},
    {29, box::kPowerFactor[box::kSum]},
    {30, box::kReactivePower[box::kSum]},
    {31, box::kApparentPower[box::kSum]},
    {33, box::kImportActiveEnergy},
    {35, box::kExportActiveEnergy},
    {37, box::kImportReactiveEnergy},
    {39, box::kExportReactiveEnergy},
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

std::vector<MeasurementText> FormatMeasurements(std::span<const uint8_t, meter::kMeasurementBytes> data,
                                                const Scaling& scaling) {
  std::vector<MeasurementText> out;
  for (Measurement& m : DecodeMeasurements(data, scaling)) out.push_back({m.slot.boxId, std::move(m.text)});
  return out;
}

const std::vector<int>& MeasurementBoxOrder() {
  static const std::vector<int> order = [] {
    std::vector<int> ids;
    for (const MeasurementSlot& slot : kSlots) ids.push_back(slot.boxId);
    return ids;
  }();
  return order;
}

}  // namespace qm::poll
