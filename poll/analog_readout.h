#pragma once
#include <array>
#include <cstdint>
#include <string>

namespace qm::poll {

// Analog selection codes of combo 1088 with a meaning of their own.
constexpr uint8_t kAnalogNone = 0;
constexpr uint8_t kAnalogUpperLimit = 33;
constexpr uint8_t kAnalogLowerLimit = 34;
constexpr uint8_t kAnalogFixedValue = 35;

// The items of the analog selection list (combo 1088), indexed by selection code. Items 1..32 name
// the measurement words 0..31.
const std::array<const char*, 36>& AnalogSelectionNames();

// Register addresses of the two values of the analog output entry `code`. Defined for every byte
// value: codes past 35 wrap within the 0x03xx page like the meter does.
struct AnalogPairAddresses {
  uint16_t first;
  uint16_t second;
  bool operator==(const AnalogPairAddresses&) const = default;
};
AnalogPairAddresses AnalogPairFor(uint8_t code);

// The readout text "first,second,unit" of an analog entry, scaled like the measurement display
// (PT and CT ratios); empty for code 0 and every code past 35.
std::string FormatAnalogReadout(uint8_t code, uint8_t firstHi, uint8_t firstLo, uint8_t secondHi,
                                uint8_t secondLo, uint32_t pt, uint32_t ct);

// A decimal integer the way the readout's unit field is read: leading blanks, an optional sign,
// then digits up to the first other character; no digits read as 0. Saturates instead of
// overflowing.
long long ParseLeadingInteger(const std::string& text);

// What the analog output row shows for one readout text.
struct ReadoutRow {
  std::string left;    // edit 1022
  std::string right;   // edit 1023
  long long unit = 0;  // wanted item of combo 1113; the caller checks it against the list
  bool operator==(const ReadoutRow&) const = default;
};
// Splits `text` at its commas: before the first, between the first and the second (or to the end),
// after the last. Code 35 (fixed value) shows "  / " on the left whatever the text says.
ReadoutRow MakeReadoutRow(uint8_t code, const std::string& text);

}  // namespace qm::poll
