#include "link/crc16.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

// The result holds the first byte on the wire in its high half.
TEST(Crc16, KnownValues) {
  const uint8_t read[] = {0x01, 0x03, 0x00, 0x00, 0x00, 0x01};
  EXPECT_EQ(qm::link::CalcCrc16(read, 6), 0x840A);
  EXPECT_EQ(qm::link::CalcCrc16(nullptr, 0), 0xFFFF);  // no byte is looked at
  // The CRC-16/MODBUS check value 0x4B37, low byte first on the wire.
  EXPECT_EQ(qm::link::CalcCrc16(reinterpret_cast<const uint8_t*>("123456789"), 9), 0x374B);
}

// The first row and the last entry of the tables printed in the "MODBUS over Serial Line" guide.
TEST(Crc16, TablesStartAndEndAsPublished) {
  const uint8_t high[] = {0x00, 0xC1, 0x81, 0x40, 0x01, 0xC0, 0x80, 0x41};
  const uint8_t low[] = {0x00, 0xC0, 0xC1, 0x01, 0xC3, 0x03, 0x02, 0xC2};
  EXPECT_TRUE(std::equal(high, high + 8, qm::link::kCrcHighTable.begin()));
  EXPECT_TRUE(std::equal(low, low + 8, qm::link::kCrcLowTable.begin()));
  EXPECT_EQ(qm::link::kCrcHighTable[255], 0x40);
  EXPECT_EQ(qm::link::kCrcLowTable[255], 0x40);
}

}  // namespace
