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
    EXPECT_EQ(qm::commands::AnalogRegisterValue(code, qm::text::LeadingNumber(text), pt, ct), value) << code << " " << text;
}

}  // namespace
