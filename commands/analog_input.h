#pragma once
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "commands/register_write.h"

namespace qm {

// Analog selection codes: the item index of the main window's selection list.
constexpr int kAnalogNone = 0;
constexpr int kAnalogUpperLimit = 33;
constexpr int kAnalogLowerLimit = 34;
constexpr int kAnalogFixedValue = 35;
constexpr int kAnalogCodeCount = 36;

constexpr uint16_t kAnalogSelectionRegister = 0x0030;
// Every write of the analog row waits this long, whatever the baud rate.
constexpr uint32_t kAnalogWriteWaitMs = 300;

enum class AnalogClass {
  None,           // 0
  Voltage,        // x * 100 / PT
  Current,        // x * 10000 / CT
  Frequency,      // x / 0.00106813
  Power,          // active and reactive: x / (PT * 0.4 * CT)
  PowerFactor,    // x / 0.0001
  ApparentPower,  // x / (PT * 0.2 * CT)
  Limit,          // 33, 34: raw
  FixedValue,     // 35: raw, right value only
  Invalid,        // outside 0..35
};

AnalogClass AnalogClassOf(int code);

// Register of the right value (edit 1023) and of the left value (edit 1022) of an entry; none for a
// code outside 0..35, and no left register for the fixed value.
std::optional<uint16_t> AnalogRightRegister(int code);
std::optional<uint16_t> AnalogLeftRegister(int code);

// The number a text begins with (blanks first, a sign, digits with a decimal point, an exponent),
// read the same way whatever the locale; 0 when the text does not begin with one. A number too
// large for a double gives an infinity of its sign.
double LeadingNumber(std::string_view text);

// Classes whose quantity cannot be negative; the meter holds them unsigned.
bool AnalogClassUnsigned(AnalogClass c);

// A quotient in register units as an integer: truncated toward zero, except that a quotient within
// a relative 1e-9 of an integer (a decimal entry that binary floating point cannot hold exactly) is
// that integer.
double TruncateToRegisterUnits(double q);

// The register value of the typed number `x` for an entry of class `code`: the class's factors in
// their order, in double precision, then TruncateToRegisterUnits. Negative results travel as two's
// complement. None when the result is not a number or lies outside -32768..65535 (it would not
// survive being cut to 16 bits), for a negative entry of an unsigned class, and for codes without a
// conversion (0 and invalid codes).
std::optional<uint16_t> AnalogRegisterValue(int code, double x, uint32_t pt, uint32_t ct);

// What the "写入" button does with the selection code and the two typed texts.
enum class AnalogWriteOutcome {
  Write,        // send `writes`, in order
  NoSelection,  // no list item selected: nothing to send
  OutOfRange,   // a value does not fit a register: nothing to send
};

struct AnalogWrite {
  AnalogWriteOutcome outcome = AnalogWriteOutcome::NoSelection;
  std::vector<RegisterWrite> writes;  // each waits kAnalogWriteWaitMs
};

// The selection first, then the right value, then (unless the fixed value) the left value, whose
// reply is drained. Code 0 has no values: only the selection is written.
AnalogWrite PlanAnalogWrite(int code, std::string_view left, std::string_view right, uint32_t pt, uint32_t ct);

}  // namespace qm
