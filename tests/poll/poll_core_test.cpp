// The poll cycle's pure formatting: measurement boxes, analog readout, analog pair addresses, the
// title and the energy multiplier.
#include <gtest/gtest.h>

#include <array>
#include <tuple>

#include "meter/analog.h"
#include "meter/codes.h"
#include "poll/analog_readout.h"
#include "poll/identification.h"
#include "poll/measurements.h"
#include "poll/settings_block.h"
#include "ui/measurement_boxes.h"

namespace {

using namespace qm::poll;
using namespace qm::meter;

constexpr Scaling kUnit{1, 1, 1, 1};
constexpr uint16_t Neg(int v) { return static_cast<uint16_t>(v); }

TEST(Measurements, DisplayEdgeCases) {
  // `raw` goes low word first into `word` and `word` + 1, as the energy counters lie. Units change
  // only above 1000; the power scale acts on P and Q only; the export minus is part of the format.
  // clang-format off
  const struct { int word, box; uint32_t raw; Scaling scaling; const char* expected; } cases[] = {
      {0, 1001, 50000, {2, 1, 1, 1}, "1000.00 V"}, {0, 1001, 50001, {2, 1, 1, 1}, "1.00 KV"},
      {2, 1030, 50000, {1, 200, 1, 1}, "1000.000 A"}, {2, 1030, 50000, {1, 400, 1, 1}, "2.000 KA"},
      {28, 1033, 10000, kUnit, "1000.0 W"}, {28, 1033, Neg(-10000), kUnit, "-1000.0 W"},
      {4, 1034, 0xC568, {1, 1, 4, 1}, "-6.000 KW"}, {22, 1040, Neg(-30000), {100, 100, 1, 1}, "-30.000 MVar"},
      {31, 1041, 0xFFFF, kUnit, "13.107 KVA"}, {29, 1045, 10000, {100, 100, 4, 1}, "1.0000"},
      {33, 1053, 0x00011234, kUnit, "70.196 KWh"}, {35, 1054, 0x00011234, kUnit, "-70.196 KWh"},
      {35, 1054, 0, kUnit, "-0.0 Wh"}, {39, 1056, 0, kUnit, "-0.0 Varh"},
      {33, 1053, 1000, kUnit, "1000.0 Wh"},
      {39, 1056, 0xFFFFFFFF, {65535, 65535, 1, 1000000}, "-18446181123756263424.000 MVarh"},
  };
  // clang-format on
  for (const auto& c : cases) {
    std::array<uint8_t, kMeasurementBytes> b{};
    for (int k = 0; k < 2; ++k) {
      const uint16_t w = static_cast<uint16_t>(c.raw >> (16 * k));
      b[static_cast<size_t>(2 * (c.word + k))] = static_cast<uint8_t>(w >> 8);
      b[static_cast<size_t>(2 * (c.word + k) + 1)] = static_cast<uint8_t>(w);
    }
    std::string text = "<box not written>";
    for (const auto& t : qm::ui::FormatMeasurements(b, c.scaling))
      if (t.boxId == c.box) text = t.text;
    EXPECT_EQ(text, c.expected) << "word " << c.word << " raw " << c.raw;
  }
}

TEST(AnalogReadout, Texts) {
  // P, PF, Q, S: the first value signed, the second not. Single precision: the first value loses
  // digits past float's mantissa (the last two rows), the second only in the power entries.
  // clang-format off
  const struct { uint8_t code; uint16_t first, second; uint32_t pt, ct; const char* expected; } cases[] = {
      {1, 10000, 40000, 1, 1, "100,400,1"}, {27, 50000, 1, 1, 200, "1000.000,0.020,2"},
      {4, 46811, 65535, 1, 1, "50.000,70.000,3"}, {5, 0xFF38, 1000, 1, 1, "-80,400,4"},
      {5, 0, 0xFF38, 1, 1, "0,26134,4"}, {6, 0xEC78, 10000, 1, 1, "-0.500,1.000,8"},
      {7, 0xFFFF, 5, 1, 1, "-0,2,5"}, {8, 0xFFFB, 10, 1, 1, "-1,2,6"},
      {33, 1200, 800, 100, 100, "1200,800,0"}, {35, 7, 500, 1, 1, "7,500,0"}, {0, 1, 2, 1, 1, ""},
      {1, 0xFFFF, 0xFFFF, 65535, 1, "42948364,42948362,1"},
      {8, 0x7FFF, 0xFFFF, 65535, 1, "429477056,858967232,6"},
  };
  // clang-format on
  for (const auto& c : cases) {
    EXPECT_EQ(
        FormatAnalogReadout(c.code, c.first >> 8, c.first & 0xFF, c.second >> 8, c.second & 0xFF, c.pt, c.ct),
        c.expected)
        << int(c.code) << " " << c.first << " " << c.second;
  }
  EXPECT_EQ(MakeReadoutRow(35, "7,500,0"), (ReadoutRow{"  / ", "500", 0}));
  EXPECT_EQ(MakeReadoutRow(0, ""), (ReadoutRow{"", "", 0}));
}

TEST(AnalogReadout, PairAddresses) {
  const std::pair<uint8_t, AnalogReadPair> cases[] = {
      {0, {0x0300, 0x035E}},  {1, {0x03A0, 0x0360}},  {5, {0x03A8, 0x0368}},  {33, {0x0336, 0x0334}},
      {34, {0x0336, 0x0334}}, {35, {0x0300, 0x0332}}, {36, {0x03E6, 0x03A6}}, {255, {0x039C, 0x035C}}};
  for (const auto& [code, pair] : cases) EXPECT_EQ(AnalogReadAddresses(code), pair) << int(code);
}

TEST(Identification, Title) {
  const std::tuple<uint16_t, uint16_t, const char*> cases[] = {
      {3100, 1203, "VM3100智能电力监测仪------Velmora(1.2.03版)"},
      {3100, 12345, "VM3100智能电力监测仪------Velmora(1.2.34版)"},
      {7410, 95, "VM7410智能电力监测仪------Velmora(9.5.版)"},
      {7410, 0, "VM7410智能电力监测仪------Velmora(0..版)"},
      {0, 123, "VM0智能电力监测仪------Velmora(1.2.3版)"},
  };
  for (const auto& [model, version, title] : cases)
    EXPECT_EQ(IdentificationTitle(model, version), title) << version;
}

TEST(SettingsBlock, EnergyDecadePastSixKeepsThePreviousMultiplier) {
  const std::pair<uint8_t, int32_t> cases[] = {{0, 1},      {1, 10},      {2, 100}, {3, 1000}, {4, 10000},
                                               {5, 100000}, {6, 1000000}, {7, 77},  {255, 77}};
  for (const auto& [decade, multiplier] : cases)
    EXPECT_EQ(EnergyMultiplier(decade, 77), multiplier) << int(decade);
  std::array<uint8_t, kSettingsBytes> block{};
  block[13] = 7;
  EXPECT_EQ(ParseSettings(block, 100).energyMultiplier, 100);
}

}  // namespace
