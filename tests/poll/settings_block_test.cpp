#include "poll/settings_block.h"

#include <gtest/gtest.h>

#include <array>

namespace {

using namespace qm::poll;

using Block = std::array<uint8_t, kSettingsBytes>;

TEST(SettingsBlock, TakesEveryFieldFromItsByte) {
  Block d{};
  for (size_t i = 0; i < d.size(); ++i) d[i] = static_cast<uint8_t>(0xA0 + i);  // noise elsewhere
  d[1] = 17;
  d[3] = 4;
  d[11] = 1;
  d[13] = 3;
  d[14] = 0x01;
  d[15] = 0x2C;  // PT 300
  d[18] = 0x9C;
  d[19] = 0x40;  // CT 40000: unsigned
  d[35] = 1;
  d[39] = 1;
  d[49] = 29;
  const SettingsValues v = ParseSettings(d, 1);
  EXPECT_EQ(v.slaveAddress, 17);
  EXPECT_EQ(v.wiring, 4);
  EXPECT_EQ(v.powerScaleByte, 1);
  EXPECT_EQ(v.powerScale, 4);
  EXPECT_EQ(v.energyMultiplier, 1000);
  EXPECT_EQ(v.pt, 300u);
  EXPECT_EQ(v.ct, 40000u);
  EXPECT_EQ(v.accuracy, 1);
  EXPECT_EQ(v.powerDirection, 1);
  EXPECT_EQ(v.analogSelection, 29);
}

TEST(SettingsBlock, PowerScaleOnlyForByteOne) {
  for (int b11 : {0, 1, 2, 4, 255}) {
    Block d{};
    d[11] = static_cast<uint8_t>(b11);
    EXPECT_EQ(ParseSettings(d, 1).powerScale, b11 == 1 ? 4 : 1) << b11;
  }
}

TEST(SettingsBlock, EnergyDecadeTable) {
  const int32_t expected[] = {1, 10, 100, 1000, 10000, 100000, 1000000};
  for (uint8_t n = 0; n < 7; ++n) EXPECT_EQ(EnergyMultiplier(n, 77), expected[n]) << int(n);
}

TEST(SettingsBlock, DecadePastTableKeepsPreviousMultiplier) {
  for (int n : {7, 8, 100, 255}) {
    EXPECT_EQ(EnergyMultiplier(static_cast<uint8_t>(n), 1000), 1000) << n;
    Block d{};
    d[13] = static_cast<uint8_t>(n);
    EXPECT_EQ(ParseSettings(d, 100).energyMultiplier, 100) << n;
  }
}

TEST(SettingsBlock, DiagnosticTexts) {
  EXPECT_EQ(SettingsCountText(1, 0), "1,0");
  EXPECT_EQ(SettingsCountText(123456, 1), "123456,1");
  EXPECT_EQ(SettingsCountText(3000000000u, 0), "3000000000,0");  // no sign flip past 2^31
  SettingsValues v;
  v.pt = 65535;
  v.wiring = 5;
  v.analogSelection = 255;
  v.accuracy = 2;
  v.powerScaleByte = 1;
  EXPECT_EQ(SettingsDiagnosticText(v), "65535,5,255,2,1");
}

TEST(SettingsBlock, AccuracyCaption) {
  EXPECT_EQ(AccuracyCaption(0), "0.5级");
  EXPECT_EQ(AccuracyCaption(1), "0.2级");
  EXPECT_EQ(AccuracyCaption(2), "");
  EXPECT_EQ(AccuracyCaption(255), "");
}

}  // namespace
