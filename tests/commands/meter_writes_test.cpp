#include "commands/meter_writes.h"

#include <gtest/gtest.h>

namespace {

TEST(MeterWrites, TogglesAndDirection) {
  EXPECT_EQ(qm::ReversedPowerDirection(0), 1);
  EXPECT_EQ(qm::ReversedPowerDirection(1), 0);
  EXPECT_EQ(qm::ReversedPowerDirection(7), 0);
  EXPECT_EQ(qm::ToggledAccuracy(0), 1);
  EXPECT_EQ(qm::ToggledAccuracy(1), 0);
  EXPECT_EQ(qm::ToggledAccuracy(200), 0);
  EXPECT_EQ(qm::AccuracyCaption(0), "0.5级");
  EXPECT_EQ(qm::AccuracyCaption(1), "0.2级");
  EXPECT_EQ(qm::AccuracyCaption(9), "0.2级");
}

TEST(MeterWrites, FactoryStatusText) {
  EXPECT_EQ(qm::FactoryStatusText(3, 9600), "串行口: 3 \r\n\r\n波特率: 9600 \r\n\r\n校验位:无校验");
}

}  // namespace
