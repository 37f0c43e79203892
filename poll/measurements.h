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

// A shown word of the block and the box that shows it.
struct MeasurementSlot {
  int word;  // first word; the energies take two
  int boxId;
};

// The 33 shown words in the order their boxes are written.
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

struct MeasurementText {
  int boxId;
  std::string text;
  bool operator==(const MeasurementText&) const = default;
};

// Engineering value of a raw word (or, for the energies, the 32-bit count).
double EngineeringValue(Quantity quantity, int64_t raw, const Scaling& scaling);

// The text of one engineering value with its unit; the larger unit only when strictly greater than
// 1000 or 1000000 (for powers compared on the magnitude, printed with the sign).
std::string FormatQuantity(Quantity quantity, double value);

// The 33 shown quantities of one measurement block, in the order the boxes are written.
std::vector<Measurement> DecodeMeasurements(std::span<const uint8_t, meter::kMeasurementBytes> data,
                                            const Scaling& scaling);

// The 33 box texts of one measurement block, in the order the boxes are written.
std::vector<MeasurementText> FormatMeasurements(std::span<const uint8_t, meter::kMeasurementBytes> data,
                                                const Scaling& scaling);

// Box ids in write order.
const std::vector<int>& MeasurementBoxOrder();

}  // namespace qm::poll
