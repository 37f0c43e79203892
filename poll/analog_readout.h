#pragma once
#include <cstdint>
#include <string>

namespace qm::poll {

// The readout text "left,right,unit" of an analog entry (the unit is a meter::AnalogUnit, its index
// in the unit list), scaled like the measurement display with the PT and CT ratios; empty for code 0
// and every code past 35.
std::string FormatAnalogReadout(uint8_t code, uint8_t firstHi, uint8_t firstLo, uint8_t secondHi,
                                uint8_t secondLo, uint32_t pt, uint32_t ct);

// What the analog output row shows for one readout text.
struct ReadoutRow {
  std::string left;    // edit 1022
  std::string right;   // edit 1023
  long long unit = 0;  // wanted item of combo 1113; the caller checks it against the list
  bool operator==(const ReadoutRow&) const = default;
};
// Splits `text` at its commas: before the first, between the first and the second (or to the end),
// after the last, read as a leading integer. Code 35 (fixed value) shows "  / " on the left whatever
// the text says.
ReadoutRow MakeReadoutRow(uint8_t code, const std::string& text);

}  // namespace qm::poll
