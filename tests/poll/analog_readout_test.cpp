#include "poll/analog_readout.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

using namespace qm::poll;

TEST(AnalogPair, EveryCodeStaysInThePage) {
  for (int s = 0; s < 256; ++s) {
    const AnalogPairAddresses a = AnalogPairFor(static_cast<uint8_t>(s));
    EXPECT_EQ(a.first >> 8, 0x03) << s;
    EXPECT_EQ(a.second >> 8, 0x03) << s;
    if (s >= 1 && s <= 32) {
      EXPECT_EQ(a.first, 0x0300 + 0x9E + 2 * s) << s;
      EXPECT_EQ(a.second, 0x0300 + 0x5E + 2 * s) << s;
    } else if (s >= 36) {
      EXPECT_EQ(a.first & 0xFF, (0x9E + 2 * s) % 256) << s;
      EXPECT_EQ(a.second & 0xFF, (0x5E + 2 * s) % 256) << s;
    }
  }
}

struct Case {
  const char* what;
  uint8_t code;
  uint16_t first;
  uint16_t second;
  uint32_t pt;
  uint32_t ct;
  const char* expected;
};

class AnalogText : public ::testing::TestWithParam<Case> {};

TEST_P(AnalogText, Formats) {
  const Case& c = GetParam();
  EXPECT_EQ(
      FormatAnalogReadout(c.code, static_cast<uint8_t>(c.first >> 8), static_cast<uint8_t>(c.first),
                          static_cast<uint8_t>(c.second >> 8), static_cast<uint8_t>(c.second), c.pt, c.ct),
      c.expected)
      << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Readout, AnalogText,
    ::testing::Values(Case{"voltage", 1, 10000, 40000, 1, 1, "100,400,1"},
                      Case{"voltage with PT 100", 1, 10000, 40000, 100, 1, "10000,40000,1"},
                      Case{"line voltage, combined group", 26, 22000, 0, 1, 1, "220,0,1"},
                      Case{"current", 3, 0, 50000, 1, 1, "0.000,5.000,2"},
                      Case{"current with CT 200", 27, 50000, 1, 1, 200, "1000.000,0.020,2"},
                      Case{"frequency", 4, 46811, 65535, 1, 1, "50.000,70.000,3"},
                      Case{"active power: first signed, second not", 5, 0xFF38, 1000, 1, 1, "-80,400,4"},
                      Case{"active power second value unsigned", 5, 0, 0xFF38, 1, 1, "0,26134,4"},
                      Case{"active power uses PT and CT, not the power scale", 13, 100, 100, 10, 20,
                           "8000,8000,4"},
                      Case{"power factor", 6, 0xEC78, 10000, 1, 1, "-0.500,1.000,8"},
                      Case{"reactive power", 7, 0xFFFF, 5, 1, 1, "-0,2,5"},
                      Case{"apparent power: first signed here", 8, 0xFFFB, 10, 1, 1, "-1,2,6"},
                      Case{"upper limit raw", 33, 1200, 800, 100, 100, "1200,800,0"},
                      Case{"lower limit raw", 34, 65535, 65535, 1, 1, "65535,65535,0"},
                      Case{"fixed value raw", 35, 7, 500, 1, 1, "7,500,0"}, Case{"none", 0, 1, 2, 1, 1, ""},
                      Case{"past the list", 36, 1, 2, 1, 1, ""},
                      Case{"far past the list", 255, 1, 2, 1, 1, ""}));

TEST(AnalogText, FirstValueRoundedToSinglePrecision) {
  // Small values round alike at both precisions.
  EXPECT_EQ(FormatAnalogReadout(1, 0xFF, 0xFF, 0xFF, 0xFF, 256, 1), "167770,167770,1");
  // A first value beyond float's 24-bit mantissa loses its last digits; the second does not.
  // 65535 * 0.01 * 65535 = 42948362.25: float 42948364, double prints 42948362.
  EXPECT_EQ(FormatAnalogReadout(1, 0xFF, 0xFF, 0xFF, 0xFF, 65535, 1), "42948364,42948362,1");
  // In the power entries the second value is rounded too: 65535 * 0.2 * 65535 = 858967245.
  EXPECT_EQ(FormatAnalogReadout(8, 0x7F, 0xFF, 0xFF, 0xFF, 65535, 1), "429477056,858967232,6");
}

TEST(ReadoutRow, SplitsAtCommas) {
  EXPECT_EQ(MakeReadoutRow(1, "12,34,1"), (ReadoutRow{"12", "34", 1}));
  EXPECT_EQ(MakeReadoutRow(6, "-0.500,1.000,8"), (ReadoutRow{"-0.500", "1.000", 8}));
  EXPECT_EQ(MakeReadoutRow(0, ""), (ReadoutRow{"", "", 0}));
  EXPECT_EQ(MakeReadoutRow(35, "7,500,0"), (ReadoutRow{"  / ", "500", 0}));
  EXPECT_EQ(MakeReadoutRow(35, ""), (ReadoutRow{"  / ", "", 0}));
  // Texts the readout never makes still split without reading past the end.
  EXPECT_EQ(MakeReadoutRow(1, "5"), (ReadoutRow{"", "", 5}));
  EXPECT_EQ(MakeReadoutRow(1, "a,b"), (ReadoutRow{"a", "b", 0}));
  EXPECT_EQ(MakeReadoutRow(1, ",,"), (ReadoutRow{"", "", 0}));
  EXPECT_EQ(MakeReadoutRow(1, "1,2,3,4"), (ReadoutRow{"1", "2", 4}));
}

TEST(ReadoutRow, UnitFieldParsing) {
  EXPECT_EQ(ParseLeadingInteger(""), 0);
  EXPECT_EQ(ParseLeadingInteger("7"), 7);
  EXPECT_EQ(ParseLeadingInteger("  12x"), 12);
  EXPECT_EQ(ParseLeadingInteger("-3"), -3);
  EXPECT_EQ(ParseLeadingInteger("+4"), 4);
  EXPECT_EQ(ParseLeadingInteger("x1"), 0);
  EXPECT_EQ(ParseLeadingInteger("99999999999999999999999"), LLONG_MAX);
}

}  // namespace
