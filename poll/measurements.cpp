#include "poll/measurements.h"

#include <array>
#include <cmath>

#include "poll/analog_readout.h"
#include "poll/text_format.h"

namespace qm::poll {

namespace {

// Word order of the block. Words 3, 11 and 19 (the per-phase frequencies) and 32 are not shown.
constexpr std::array<MeasurementSlot, 33> kSlots{{
    {0, Quantity::Voltage, 1001},
    {1, Quantity::Voltage, 1026},
    {2, Quantity::Current, 1030},
    {4, Quantity::ActivePower, 1034},
    {5, Quantity::PowerFactor, 1046},
    {6, Quantity::ReactivePower, 1038},
    {7, Quantity::ApparentPower, 1042},
    {8, Quantity::Voltage, 1002},
    {9, Quantity::Voltage, 1027},
    {10, Quantity::Current, 1031},
    {12, Quantity::ActivePower, 1035},
    {13, Quantity::PowerFactor, 1047},
    {14, Quantity::ReactivePower, 1039},
    {15, Quantity::ApparentPower, 1043},
    {16, Quantity::Voltage, 1003},
    {17, Quantity::Voltage, 1028},
    {18, Quantity::Current, 1032},
    {20, Quantity::ActivePower, 1036},
    {21, Quantity::PowerFactor, 1048},
    {22, Quantity::ReactivePower, 1040},
    {23, Quantity::ApparentPower, 1044},
    {24, Quantity::Voltage, 1000},
    {25, Quantity::Voltage, 1025},
    {26, Quantity::Current, 1029},
    {27, Quantity::Frequency, 1049},
    {28, Quantity::ActivePower, 1033},
    {29, Quantity::PowerFactor, 1045},
    {30, Quantity::ReactivePower, 1037},
    {31, Quantity::ApparentPower, 1041},
    {33, Quantity::ImportActiveEnergy, 1053},
    {35, Quantity::ExportActiveEnergy, 1054},
    {37, Quantity::ImportReactiveEnergy, 1055},
    {39, Quantity::ExportReactiveEnergy, 1056},
}};

bool IsSigned(Quantity q) {
  return q == Quantity::ActivePower || q == Quantity::PowerFactor || q == Quantity::ReactivePower;
}

bool IsEnergy(Quantity q) {
  return q == Quantity::ImportActiveEnergy || q == Quantity::ExportActiveEnergy ||
         q == Quantity::ImportReactiveEnergy || q == Quantity::ExportReactiveEnergy;
}

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

std::string SlotName(const MeasurementSlot& slot) {
  switch (slot.quantity) {
    case Quantity::ImportActiveEnergy: return "EPimp";
    case Quantity::ExportActiveEnergy: return "EPexp";
    case Quantity::ImportReactiveEnergy: return "EQimp";
    case Quantity::ExportReactiveEnergy: return "EQexp";
    default: break;
  }
  const auto& names = AnalogSelectionNames();
  const size_t item = static_cast<size_t>(slot.word) + 1;
  return item < names.size() ? names[item] : std::string();
}

const char* SiUnit(Quantity quantity) {
  switch (quantity) {
    case Quantity::Voltage: return "V";
    case Quantity::Current: return "A";
    case Quantity::Frequency: return "Hz";
    case Quantity::ActivePower: return "W";
    case Quantity::PowerFactor: return "";
    case Quantity::ReactivePower: return "var";
    case Quantity::ApparentPower: return "VA";
    case Quantity::ImportActiveEnergy:
    case Quantity::ExportActiveEnergy: return "Wh";
    case Quantity::ImportReactiveEnergy:
    case Quantity::ExportReactiveEnergy: return "varh";
  }
  return "";
}

double EngineeringValue(Quantity quantity, int64_t raw, const Scaling& s) {
  const double r = static_cast<double>(raw);
  const double pt = s.pt, ct = s.ct;
  switch (quantity) {
    case Quantity::Voltage:
      return r * pt / 100.0;
    case Quantity::Current:
      return r * ct / 10000.0;
    case Quantity::Frequency:
      return r * 0.00106813;
    case Quantity::ActivePower:
    case Quantity::ReactivePower:
      return r * pt * ct * s.powerScale / 10.0;
    case Quantity::ApparentPower:
      return r * pt * ct / 5.0;
    case Quantity::PowerFactor:
      return r / 10000.0;
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
      IsSigned(quantity) || quantity == Quantity::ApparentPower ? std::fabs(value) : value;
  if (f.mega && compared > 1000000.0) return Printf(f.mega, value / 1000000.0);
  if (f.kilo && compared > 1000.0) return Printf(f.kilo, value / 1000.0);
  return Printf(f.base, value);
}

std::vector<Measurement> DecodeMeasurements(std::span<const uint8_t, kMeasurementBytes> data,
                                            const Scaling& scaling) {
  const auto word = [&data](int n) {
    return static_cast<uint16_t>(data[static_cast<size_t>(2 * n)] << 8 |
                                 data[static_cast<size_t>(2 * n + 1)]);
  };
  std::vector<Measurement> out;
  out.reserve(kSlots.size());
  for (const MeasurementSlot& slot : kSlots) {
    int64_t raw;
    if (IsEnergy(slot.quantity))  // low word first, each word high byte first
      raw = static_cast<int64_t>(static_cast<uint32_t>(word(slot.word + 1)) << 16 | word(slot.word));
    else if (IsSigned(slot.quantity))
      raw = static_cast<int16_t>(word(slot.word));
    else
      raw = word(slot.word);
    const double value = EngineeringValue(slot.quantity, raw, scaling);
    out.push_back({&slot, value, FormatQuantity(slot.quantity, value)});
  }
  return out;
}

std::vector<MeasurementText> FormatMeasurements(std::span<const uint8_t, kMeasurementBytes> data,
                                                const Scaling& scaling) {
  std::vector<MeasurementText> out;
  for (Measurement& m : DecodeMeasurements(data, scaling)) out.push_back({m.slot->boxId, std::move(m.text)});
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
