#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "meter/quantities.h"
#include "meter/registers.h"

namespace qm::poll {

using meter::Quantity;

// The scaling the poll cycle last took from the settings block.
struct Scaling {
  uint32_t pt = 1;
  uint32_t ct = 1;
  int32_t powerScale = 1;  // 4 or 1: active and reactive power only
  int32_t energyMultiplier = 1;
};

// A shown word of the block. Which box of the window shows it is the window's own table
// (ui/measurement_boxes.h).
struct MeasurementSlot {
  int word;  // first word; the energies take two
};

// The 33 shown words in the order the window writes their boxes: phase A, B, C, then the combined
// group and the energies.
std::span<const MeasurementSlot> MeasurementSlots();

// Short name of a shown word: the analog selection list's name for words 0..31 ("Ua", "PF"),
// "EPimp", "EPexp", "EQimp" and "EQexp" for the four energy counters.
std::string MeasurementName(int word);

// One decoded quantity: its engineering value and the text its box shows.
struct Measurement {
  MeasurementSlot slot;
  Quantity quantity;
  double value;
  std::string text;
};

// Engineering value of a raw word (or, for the energies, the 32-bit count).
double EngineeringValue(Quantity quantity, int64_t raw, const Scaling& scaling);

// The text of one engineering value with its unit; the larger unit only when strictly greater than
// 1000 or 1000000 (for powers compared on the magnitude, printed with the sign).
std::string FormatQuantity(Quantity quantity, double value);

// The 33 shown quantities of one measurement block, in the order of MeasurementSlots().
std::vector<Measurement> DecodeMeasurements(std::span<const uint8_t, meter::kMeasurementBytes> data,
                                            const Scaling& scaling);

}  // namespace qm::poll
