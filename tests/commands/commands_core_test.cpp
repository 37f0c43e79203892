// The analog row's conversion of a typed text to the register value, by class of the selection.
#include <gtest/gtest.h>

#include <optional>
#include <tuple>

#include "commands/analog_input.h"
#include "text/number_text.h"

namespace {

TEST(AnalogConversion, TypedTextToRegisterValue) {
  // Selection code, typed text, PT, CT, register value (none: refused, nothing is sent). The classes:
  // voltage x * 100 / PT; current x * 10000 / CT; frequency x / 0.00106813; active and reactive power
  // x / (PT * 0.4 * CT); power factor x / 0.0001; apparent power x / (PT * 0.2 * CT); limits (33, 34)
  // and the fixed value (35) raw. Values are truncated, not rounded, and the number the text begins
  // with counts (none: 0). Negative values go out in two's complement.
  // clang-format off
  const std::tuple<int, const char*, uint32_t, uint32_t, std::optional<uint16_t>> cases[] = {
      {1, "220", 1, 1, 22000}, {26, "99.999", 3, 1, 3333}, {3, "100", 1, 200, 5000}, {4, "45", 1, 1, 42129},
      {4, "65", 1, 1, 60854}, {5, "-80", 1, 1, 0xFF38}, {6, "1", 1, 1, 10000}, {32, "1000", 5, 2, 500},
      {33, "65535", 1, 1, 65535}, {34, "-32768", 1, 1, 0x8000}, {34, "-5", 1, 1, 0xFFFB},
      {35, " 12.5V", 1, 1, 12}, {33, "abc", 1, 1, 0},
      // Out of range both ways; a PT of 0 read from the meter.
      {33, "65536", 1, 1, {}}, {33, "-32769", 1, 1, {}}, {1, "1", 0, 1, {}},
      // A whole number of the meter's units for its class, which binary floating point cannot hold
      // exactly: the quotient must not fall to the integer below.
      {1, "2.3", 1, 1, 230}, {9, "0.29", 1, 1, 29}, {18, "5.1", 3, 1, 170}, {25, "10.2", 3, 1, 340},
      {3, "0.57", 1, 1, 5700}, {11, "0.0006", 1, 1, 6}, {19, "1.14", 1, 2, 5700},
      {4, "49.15000195", 1, 1, 46015}, {12, "0.01388569", 1, 1, 13}, {5, "1.2", 1, 1, 3},
      {15, "2.4", 3, 1, 2}, {13, "-1.2", 1, 1, 0xFFFD}, {6, "0.6", 1, 1, 6000}, {14, "0.3", 1, 1, 3000},
      {22, "-0.6", 1, 1, 0xE890}, {8, "0.6", 1, 1, 3}, {16, "1.4", 1, 1, 7}, {24, "0.6", 3, 1, 1},
      {33, "3", 1, 1, 3}, {35, "12", 1, 1, 12},
      // Farther from an integer than a rounding error: still truncated toward zero.
      {6, "0.59999", 1, 1, 5999}, {30, "-0.59999", 1, 1, 0xE891},
      // Negative entries are refused where the meter holds no sign (voltage, current, frequency,
      // apparent power); minus zero is zero.
      {1, "-1", 1, 1, {}}, {26, "-0.01", 1, 1, {}}, {3, "-0.5", 1, 1, {}}, {28, "-50", 1, 1, {}},
      {8, "-1", 1, 1, {}}, {2, "-0", 1, 1, 0}, {7, "-80", 1, 1, 0xFF38}, {30, "-1", 1, 1, 0xD8F0},
      {33, "-5", 1, 1, 0xFFFB}, {35, "-1", 1, 1, 0xFFFF},
  };
  // clang-format on
  for (const auto& [code, text, pt, ct, value] : cases)
    EXPECT_EQ(qm::commands::AnalogRegisterValue(code, qm::text::LeadingNumber(text), pt, ct), value)
        << code << " " << text;
}

}  // namespace
