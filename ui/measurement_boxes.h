#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "meter/registers.h"
#include "poll/measurements.h"

// Which box of the main window shows which word of the measurement block. The decoding itself knows
// no window (poll/measurements.h); this table is the window's half.
namespace qm::ui {

// The box that shows a shown word of the block (its first word for the energies); 0 for a word the
// window does not show.
int MeasurementBox(int word);

struct MeasurementText {
  int boxId;
  std::string text;
  bool operator==(const MeasurementText&) const = default;
};

// The 33 box texts of one measurement block, in the order the boxes are written.
std::vector<MeasurementText> FormatMeasurements(std::span<const uint8_t, meter::kMeasurementBytes> data,
                                                const poll::Scaling& scaling);

}  // namespace qm::ui
