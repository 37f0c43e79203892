#pragma once
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "commands/register_write.h"

namespace qm::commands {

// Every write of the analog row waits this long, whatever the baud rate.
inline constexpr uint32_t kAnalogWriteWaitMs = 300;

// A quotient in register units as an integer: truncated toward zero, except that a quotient within
// a relative 1e-9 of an integer (a decimal entry that binary floating point cannot hold exactly) is
// that integer.
double TruncateToRegisterUnits(double q);

// The register value of the typed number `x` for the analog entry `code` (meter/analog.h): the
// inverse of the readout's factors in their order, in double precision, then TruncateToRegisterUnits.
// Negative results travel as two's complement. None when the result is not a number or lies outside
// -32768..65535 (it would not survive being cut to 16 bits), for a negative entry of a quantity that
// cannot be negative (voltage, current, frequency, apparent power), and for codes without a
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
// reply is drained. Each typed text counts by its leading number (text/number_text.h). Code 0 has no
// values: only the selection is written.
AnalogWrite PlanAnalogWrite(int code, std::string_view left, std::string_view right, uint32_t pt,
                            uint32_t ct);

// The selection write alone, as a selection change outside input mode sends it; none for a code
// outside the list.
std::optional<RegisterWrite> AnalogSelectionWrite(int code);

}  // namespace qm::commands
