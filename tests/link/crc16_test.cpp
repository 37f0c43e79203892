#include "link/crc16.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Crc16, ReadRequestGivesPublishedWireBytes) {
  const uint8_t frame[] = {0x01, 0x03, 0x00, 0x00, 0x00, 0x01};
  EXPECT_EQ(qm::CalcCrc16(frame, 6), 0x840A);
}

TEST(Crc16, EmptyInputIsInitialValue) { EXPECT_EQ(qm::CalcCrc16(nullptr, 0), 0xFFFF); }

TEST(Crc16, CheckValueOfStandardString) {
  const std::string check = "123456789";
  const uint16_t wire = qm::CalcCrc16(reinterpret_cast<const uint8_t*>(check.data()), 9);
  // CRC-16/MODBUS check value 0x4B37, sent low byte first: our result has its bytes swapped.
  EXPECT_EQ(static_cast<uint16_t>((wire & 0xFF) << 8 | wire >> 8), 0x4B37);
}

TEST(Crc16, TablesEqualTablesFromPolynomial) {
  for (unsigned i = 0; i < 256; ++i) {
    unsigned crc = i;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    EXPECT_EQ(qm::kCrcHighTable[i], crc & 0xFF) << i;
    EXPECT_EQ(qm::kCrcLowTable[i], crc >> 8) << i;
  }
  // Spot values of the published tables.
  EXPECT_EQ(qm::kCrcHighTable[0x01], 0xC1);
  EXPECT_EQ(qm::kCrcLowTable[0x01], 0xC0);
  EXPECT_EQ(qm::kCrcLowTable[0xFF], 0x40);
}

TEST(Crc16, MatchesBitwiseReferenceOnRandomData) {
  uint32_t seed = 12345;
  for (int round = 0; round < 200; ++round) {
    uint8_t data[64];
    const int n = round % 64;
    for (int i = 0; i < n; ++i) data[i] = static_cast<uint8_t>((seed = seed * 1103515245 + 12345) >> 16);
    uint16_t ref = 0xFFFF;
    for (int i = 0; i < n; ++i) {
      ref ^= data[i];
      for (int bit = 0; bit < 8; ++bit) ref = (ref & 1) ? (ref >> 1) ^ 0xA001 : ref >> 1;
    }
    const uint16_t got = qm::CalcCrc16(data, static_cast<int16_t>(n));
    EXPECT_EQ(got, static_cast<uint16_t>((ref & 0xFF) << 8 | ref >> 8));
  }
}

}  // namespace
