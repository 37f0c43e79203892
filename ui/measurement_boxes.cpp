#include "ui/measurement_boxes.h"

#include <algorithm>
#include <array>
#include <utility>

#include "ui/monitor_ids.h"

namespace qm::ui {

namespace {

namespace box = monitor_ids;

struct WordBox {
  int word;
  int box;
};

// Phase A, B, C, then the combined group and the energies.
constexpr std::array<WordBox, 33> kBoxes{{
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

}  // namespace

int MeasurementBox(int word) {
  const auto it =
      std::find_if(kBoxes.begin(), kBoxes.end(), [word](const WordBox& b) { return b.word == word; });
  return it == kBoxes.end() ? 0 : it->box;
}

std::vector<MeasurementText> FormatMeasurements(std::span<const uint8_t, meter::kMeasurementBytes> data,
                                                const poll::Scaling& scaling) {
  std::vector<MeasurementText> out;
  for (poll::Measurement& m : poll::DecodeMeasurements(data, scaling))
    out.push_back({MeasurementBox(m.slot.word), std::move(m.text)});
  return out;
}

}  // namespace qm::ui
