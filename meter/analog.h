#pragma once
#include <array>
#include <cstdint>
#include <optional>

#include "meter/quantities.h"

// The meter's analog output and limit entries. The analog selection code is the item index of the
// main window's selection list: 0 none, 1..32 the measured quantities, then the limits and the fixed
// value. For each entry the meter keeps a pair of values: the left one (shown first) and the right.
namespace qm::meter {

inline constexpr int kAnalogNone = 0;
inline constexpr int kAnalogUpperLimit = 33;
inline constexpr int kAnalogLowerLimit = 34;
inline constexpr int kAnalogFixedValue = 35;
inline constexpr int kAnalogCodeCount = 36;

// The entries as the selection list names them, by code. Entries 1..32 name measurement words 0..31.
inline constexpr std::array<const char*, kAnalogCodeCount> kAnalogEntryNames{
    "无", "Ua", "Uca", "Ia", "F",  "Pa", "PFa", "Qa", "Sa", "Ub",   "Uab",  "Ib",
    "F",  "Pb", "PFb", "Qb", "Sb", "Uc", "Ubc", "Ic", "F",  "Pc",   "PFc",  "Qc",
    "Sc", "Ux", "Ul",  "I",  "F",  "P",  "PF",  "Q",  "S",  "上限", "下限", "定值"};

// The analog row's unit list (combo 1113) by item index; the readout names an entry's unit by this
// index. The list has the first eight; no readout names MilliAmpere.
enum class AnalogUnit {
  None,  // also the limits and the fixed value
  Volt,
  Ampere,
  Hertz,
  Watt,
  Var,
  VoltAmpere,
  MilliAmpere,
  // The power factor has no unit and the list no item for it: its readout asks for item 8, one past
  // the end, and the list then selects nothing, so the unit box stays blank for it. "无" (item 0)
  // would put a word where the window has always shown none, so the index stays as it is.
  PowerFactor,
};
inline constexpr int kAnalogUnitCount = static_cast<int>(AnalogUnit::PowerFactor);
inline constexpr std::array<const char*, kAnalogUnitCount> kAnalogUnitNames{"无", "V",   "A",  "Hz",
                                                                            "W",  "Var", "VA", "mA"};

enum class AnalogClass {
  None,        // 0
  Measured,    // 1..32: the quantity of measurement word code - 1
  Limit,       // 33, 34: raw values
  FixedValue,  // 35: raw, right value only
  Invalid,     // outside 0..35
};

AnalogClass AnalogClassOf(int code);

// The quantity of a measured entry (codes 1..32), none for the others.
std::optional<Quantity> AnalogQuantity(int code);

// The unit a measured entry's readout names.
AnalogUnit AnalogUnitOf(Quantity q);

// The left value of the active power, power factor, reactive power and apparent power entries is
// two's complement; every other value is unsigned.
bool AnalogLeftSigned(Quantity q);

// Registers the two values are written at: the right value in the low form, the left value in the
// page form (registers.h). None for a code outside 0..35, and no left value for the fixed value.
std::optional<uint16_t> AnalogRightRegister(int code);
std::optional<uint16_t> AnalogLeftRegister(int code);

// Addresses the poll reads an entry's values at, one word each: the left value first, then the
// right. Defined for every byte: codes past 35 wrap in the page's low byte as the meter does, and
// the entries without a left value (0 and 35) read the page's first word in its place.
struct AnalogReadPair {
  uint16_t first;
  uint16_t second;
  bool operator==(const AnalogReadPair&) const = default;
};
AnalogReadPair AnalogReadAddresses(uint8_t code);

}  // namespace qm::meter
