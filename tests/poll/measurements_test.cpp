#include "poll/measurements.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace {

using qm::poll::FormatMeasurements;
using qm::poll::FormatQuantity;
using qm::poll::Quantity;
using qm::poll::Scaling;

using Block = std::array<uint8_t, qm::poll::kMeasurementBytes>;

void SetWord(Block& b, int n, uint16_t value) {
  b[static_cast<size_t>(2 * n)] = static_cast<uint8_t>(value >> 8);
  b[static_cast<size_t>(2 * n + 1)] = static_cast<uint8_t>(value & 0xFF);
}

std::string TextOf(const Block& b, const Scaling& s, int boxId) {
  for (const auto& t : FormatMeasurements(b, s))
    if (t.boxId == boxId) return t.text;
  return "<box not written>";
}

struct Case {
  const char* what;
  int word;
  uint16_t raw;
  Scaling scaling;
  int boxId;
  const char* expected;
};

class MeasurementCase : public ::testing::TestWithParam<Case> {};

TEST_P(MeasurementCase, ShowsExpectedText) {
  const Case& c = GetParam();
  Block b{};
  SetWord(b, c.word, c.raw);
  EXPECT_EQ(TextOf(b, c.scaling, c.boxId), c.expected) << c.what;
}

constexpr Scaling kUnit{1, 1, 1, 1};

INSTANTIATE_TEST_SUITE_P(
    Display, MeasurementCase,
    ::testing::Values(
        Case{"phase voltage", 0, 22000, kUnit, 1001, "220.00 V"},
        Case{"voltage with PT 100", 0, 22000, {100, 1, 1, 1}, 1001, "22.00 KV"},
        Case{"voltage exactly 1000 keeps V", 0, 50000, {2, 1, 1, 1}, 1001, "1000.00 V"},
        Case{"voltage just above 1000", 0, 50001, {2, 1, 1, 1}, 1001, "1.00 KV"},
        Case{"megavolts stay in KV", 25, 65535, {65535, 1, 1, 1}, 1025, "42948.36 KV"},
        Case{"current", 2, 50000, kUnit, 1030, "5.000 A"},
        Case{"current with CT 400", 2, 50000, {1, 400, 1, 1}, 1030, "2.000 KA"},
        Case{"current exactly 1000 keeps A", 2, 50000, {1, 200, 1, 1}, 1030, "1000.000 A"},
        Case{"negative active power", 4, 0xC568, kUnit, 1034, "-1.500 KW"},
        Case{"negative active power, scale 4", 4, 0xC568, {1, 1, 4, 1}, 1034, "-6.000 KW"},
        Case{"active power at threshold", 28, 10000, kUnit, 1033, "1000.0 W"},
        Case{"negative power at threshold", 28, static_cast<uint16_t>(-10000), kUnit, 1033, "-1000.0 W"},
        Case{"megawatts", 28, 20000, {100, 50, 1, 1}, 1033, "10.000 MW"},
        Case{"negative megawatts", 12, static_cast<uint16_t>(-20000), {100, 50, 1, 1}, 1035, "-10.000 MW"},
        Case{"reactive power", 6, 5000, kUnit, 1038, "500.0 Var"},
        Case{"reactive kilovars, scale 4", 30, 5000, {1, 1, 4, 1}, 1037, "2.000 KVar"},
        Case{"reactive megavars", 22, static_cast<uint16_t>(-30000), {100, 100, 1, 1}, 1040, "-30.000 MVar"},
        Case{"apparent power ignores scale 4", 7, 10000, {1, 1, 4, 1}, 1042, "2.000 KVA"},
        Case{"apparent power is unsigned", 31, 0xFFFF, kUnit, 1041, "13.107 KVA"},
        Case{"apparent megavolt-amperes", 15, 50000, {10, 100, 1, 1}, 1043, "10.000 MVA"},
        Case{"apparent below kilo", 23, 5000, kUnit, 1044, "1000.0 VA"},
        Case{"power factor", 5, static_cast<uint16_t>(-5000), kUnit, 1046, "-0.5000"},
        Case{"power factor ignores ratios", 29, 10000, {100, 100, 4, 1}, 1045, "1.0000"},
        Case{"frequency", 27, 46811, kUnit, 1049, "50.000 Hz"},
        Case{"frequency full scale", 27, 65535, kUnit, 1049, "70.000 Hz"}));

TEST(Measurements, WritesAll33BoxesInWordOrder) {
  const std::vector<int> expected{1001, 1026, 1030, 1034, 1046, 1038, 1042, 1002, 1027, 1031, 1035,
                                  1047, 1039, 1043, 1003, 1028, 1032, 1036, 1048, 1040, 1044, 1000,
                                  1025, 1029, 1049, 1033, 1045, 1037, 1041, 1053, 1054, 1055, 1056};
  Block b{};
  const auto texts = FormatMeasurements(b, kUnit);
  ASSERT_EQ(texts.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(texts[i].boxId, expected[i]) << i;
  EXPECT_EQ(qm::poll::MeasurementBoxOrder(), expected);
}

TEST(Measurements, ZeroBlockTexts) {
  Block b{};
  const auto texts = FormatMeasurements(b, kUnit);
  EXPECT_EQ(texts[0].text, "0.00 V");
  EXPECT_EQ(texts[2].text, "0.000 A");
  EXPECT_EQ(texts[3].text, "0.0 W");
  EXPECT_EQ(texts[4].text, "0.0000");
  EXPECT_EQ(texts[24].text, "0.000 Hz");
  EXPECT_EQ(texts[29].text, "0.0 Wh");
  EXPECT_EQ(texts[30].text, "-0.0 Wh");  // the export sign is part of the format
  EXPECT_EQ(texts[31].text, "0.0 Varh");
  EXPECT_EQ(texts[32].text, "-0.0 Varh");
}

TEST(Measurements, EnergyCountIsLowWordFirst) {
  Block b{};
  SetWord(b, 33, 0x1234);
  SetWord(b, 34, 0x0001);
  SetWord(b, 35, 0x1234);
  SetWord(b, 36, 0x0001);
  EXPECT_EQ(TextOf(b, kUnit, 1053), "70.196 KWh");
  EXPECT_EQ(TextOf(b, kUnit, 1054), "-70.196 KWh");
}

TEST(Measurements, EnergyThresholdsAndScaling) {
  Block b{};
  SetWord(b, 33, 1000);  // exactly 1000: smaller unit
  SetWord(b, 37, 1001);
  SetWord(b, 39, 0xFFFF);
  SetWord(b, 40, 0xFFFF);  // the largest count
  EXPECT_EQ(TextOf(b, kUnit, 1053), "1000.0 Wh");
  EXPECT_EQ(TextOf(b, kUnit, 1055), "1.001 KVarh");
  EXPECT_EQ(TextOf(b, kUnit, 1056), "-4294.967 MVarh");
  // Multiplier, PT and CT all multiply; no divisor.
  EXPECT_EQ(TextOf(b, {2, 3, 4, 10}, 1053), "60.000 KWh");
  // The largest possible value still prints in full.
  const std::string huge = TextOf(b, {65535, 65535, 1, 1000000}, 1056);
  EXPECT_EQ(huge.substr(0, 6), "-18446") << huge;
  EXPECT_EQ(huge.substr(huge.size() - 10), ".000 MVarh") << huge;
  EXPECT_EQ(huge.size(), 31u) << huge;
}

TEST(Measurements, UnshownWordsChangeNothing) {
  Block quiet{};
  Block busy{};
  for (int w : {3, 11, 19, 32}) SetWord(busy, w, 0xBEEF);
  EXPECT_EQ(FormatMeasurements(quiet, kUnit), FormatMeasurements(busy, kUnit));
}

TEST(Measurements, EveryBoxUsesItsOwnWord) {
  // Distinct values per word catch a slot wired to the wrong word.
  Block b{};
  for (int w = 0; w < 41; ++w) SetWord(b, w, static_cast<uint16_t>(100 + w));
  const auto texts = FormatMeasurements(b, kUnit);
  EXPECT_EQ(texts[0].text, "1.00 V");     // word 0
  EXPECT_EQ(texts[1].text, "1.01 V");     // word 1
  EXPECT_EQ(texts[2].text, "0.010 A");    // word 2 (102)
  EXPECT_EQ(texts[3].text, "10.4 W");     // word 4
  EXPECT_EQ(texts[4].text, "0.0105");     // word 5
  EXPECT_EQ(texts[5].text, "10.6 Var");   // word 6
  EXPECT_EQ(texts[6].text, "21.4 VA");    // word 7
  EXPECT_EQ(texts[7].text, "1.08 V");     // word 8
  EXPECT_EQ(texts[21].text, "1.24 V");    // word 24
  EXPECT_EQ(texts[24].text, "0.136 Hz");  // word 27
  EXPECT_EQ(texts[28].text, "26.2 VA");   // word 31
  // Energies: words 33/34 = 133, 134 -> 134 * 65536 + 133.
  EXPECT_EQ(texts[29].text, "8.782 MWh");
}

TEST(Measurements, PowerUnitChosenOnMagnitude) {
  EXPECT_EQ(FormatQuantity(Quantity::ActivePower, -1000.0), "-1000.0 W");
  EXPECT_EQ(FormatQuantity(Quantity::ActivePower, -1000.5), "-1.000 KW");
  EXPECT_EQ(FormatQuantity(Quantity::ReactivePower, -1000000.0), "-1000.000 KVar");
  EXPECT_EQ(FormatQuantity(Quantity::ReactivePower, -1000000.5), "-1.000 MVar");
  EXPECT_EQ(FormatQuantity(Quantity::ApparentPower, 1000000.0), "1000.000 KVA");
  EXPECT_EQ(FormatQuantity(Quantity::ImportActiveEnergy, 1000000.0), "1000.000 KWh");
  EXPECT_EQ(FormatQuantity(Quantity::ExportActiveEnergy, 1000001.0), "-1.000 MWh");
}

}  // namespace
