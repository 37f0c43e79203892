#include "link/crc16.h"

#include <gtest/gtest.h>

namespace {

// The result holds the first byte on the wire in its high half.
TEST(Crc16, KnownValues) {
  const uint8_t read[] = {0x01, 0x03, 0x00, 0x00, 0x00, 0x01};
  EXPECT_EQ(qm::link::CalcCrc16(read, 6), 0x840A);
  EXPECT_EQ(qm::link::CalcCrc16(nullptr, 0), 0xFFFF);  // no byte is looked at
  // The CRC-16/MODBUS check value 0x4B37, low byte first on the wire.
  EXPECT_EQ(qm::link::CalcCrc16(reinterpret_cast<const uint8_t*>("123456789"), 9), 0x374B);
}

TEST(Crc16, TablesEqualTablesFromPolynomial) {
  for (unsigned i = 0; i < 256; ++i) {
    unsigned crc = i;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    EXPECT_EQ(qm::link::kCrcHighTable[i], crc & 0xFF) << i;
    EXPECT_EQ(qm::link::kCrcLowTable[i], crc >> 8) << i;
  }
}

}  // namespace
