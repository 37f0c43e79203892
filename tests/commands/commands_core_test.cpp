// The analog row's conversion of a typed text to the register value, by class of the selection.
#include <gtest/gtest.h>

#include <optional>
#include <tuple>

#include "commands/analog_input.h"
#include "text/number_text.h"

namespace {

TEST(AnalogConversion, TypedTextToRegisterValue) {
  // Selection code, typed text, PT, CT, register value (none: refused, nothing is sent).
  const std::tuple<int, const char*, uint32_t, uint32_t, std::optional<uint16_t>> cases[] = {
      {1, "220", 1, 1, 22000},     // voltage: x * 100 / PT
      {26, "99.999", 3, 1, 3333},  // truncated, not rounded
      {3, "100", 1, 200, 5000},    // current: x * 10000 / CT
      {4, "45", 1, 1, 42129},      // frequency: x / 0.00106813
      {4, "65", 1, 1, 60854},
      {5, "-80", 1, 1, 0xFF38},    // power: x / (PT * 0.4 * CT), negative in two's complement
      {6, "1", 1, 1, 10000},       // power factor: x / 0.0001
      {32, "1000", 5, 2, 500},     // apparent power: x / (PT * 0.2 * CT)
      {33, "65535", 1, 1, 65535},  // limits: raw, to both ends of the range
      {34, "-32768", 1, 1, 0x8000},
      {34, "-5", 1, 1, 0xFFFB},
      {35, " 12.5V", 1, 1, 12},  // the number the text begins with
      {33, "abc", 1, 1, 0},      // no leading number: 0
      {33, "65536", 1, 1, {}},   // out of range both ways
      {33, "-32769", 1, 1, {}},
      {1, "1", 0, 1, {}},  // a PT of 0 read from the meter
  };
  for (const auto& [code, text, pt, ct, value] : cases)
    EXPECT_EQ(qm::commands::AnalogRegisterValue(code, qm::text::LeadingNumber(text), pt, ct), value)
        << code << " " << text;
}

TEST(AnalogConversion, DecimalEntriesExactInTheMetersUnitGiveThatManyUnits) {
  // Each text is a whole number of the meter's units for its class, which binary floating point
  // cannot hold exactly: the quotient must not fall to the integer below.
  const std::tuple<int, const char*, uint32_t, uint32_t, uint16_t> cases[] = {
      {1, "2.3", 1, 1, 230},  // voltage, 0.01 V x PT
      {9, "0.29", 1, 1, 29},
      {18, "5.1", 3, 1, 170},
      {25, "10.2", 3, 1, 340},
      {3, "0.57", 1, 1, 5700},  // current, 0.0001 A x CT
      {11, "0.0006", 1, 1, 6},
      {19, "1.14", 1, 2, 5700},
      {4, "49.15000195", 1, 1, 46015},  // frequency, 0.00106813 Hz
      {12, "0.01388569", 1, 1, 13},
      {5, "1.2", 1, 1, 3},   // active power, 0.4 W x PT x CT
      {15, "2.4", 3, 1, 2},  // reactive power
      {13, "-1.2", 1, 1, 0xFFFD},
      {6, "0.6", 1, 1, 6000},  // power factor, 0.0001
      {14, "0.3", 1, 1, 3000},
      {22, "-0.6", 1, 1, 0xE890},  // -6000
      {8, "0.6", 1, 1, 3},         // apparent power, 0.2 VA x PT x CT
      {16, "1.4", 1, 1, 7},
      {24, "0.6", 3, 1, 1},
      {33, "3", 1, 1, 3},  // limits and the fixed value: raw
      {35, "12", 1, 1, 12},
      // Farther from an integer than a rounding error: still truncated toward zero.
      {6, "0.59999", 1, 1, 5999},
      {30, "-0.59999", 1, 1, 0xE891},  // -5999
      {4, "45", 1, 1, 42129},
      {4, "65", 1, 1, 60854},
  };
  for (const auto& [code, text, pt, ct, value] : cases)
    EXPECT_EQ(qm::commands::AnalogRegisterValue(code, qm::text::LeadingNumber(text), pt, ct), value)
        << code << " " << text;
}

TEST(AnalogConversion, NegativeEntriesAreRefusedOnlyWhereTheMeterHoldsNoSign) {
  // Selection code, typed text, register value (none: refused like an out-of-range value).
  const std::tuple<int, const char*, std::optional<uint16_t>> cases[] = {
      {1, "-1", {}},  // voltage, current, frequency, apparent power: no sign
      {26, "-0.01", {}},  {3, "-0.5", {}},    {28, "-50", {}},
      {8, "-1", {}},      {2, "-0", 0},  // minus zero is zero
      {7, "-80", 0xFF38},                // reactive power, power factor and the limits: two's complement
      {30, "-1", 0xD8F0},                // -10000
      {33, "-5", 0xFFFB}, {35, "-1", 0xFFFF},
  };
  for (const auto& [code, text, value] : cases)
    EXPECT_EQ(qm::commands::AnalogRegisterValue(code, qm::text::LeadingNumber(text), 1, 1), value)
        << code << " " << text;
}

}  // namespace
