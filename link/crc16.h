#pragma once
#include <array>
#include <cstdint>

namespace qm::link {

// Table-driven CRC-16/MODBUS. The high byte of the result is the CRC byte sent first on the wire,
// the low byte the one sent second (the conventional value with its bytes swapped).
uint16_t CalcCrc16(const uint8_t* data, int16_t length);

extern const std::array<uint8_t, 256> kCrcHighTable;
extern const std::array<uint8_t, 256> kCrcLowTable;

}  // namespace qm::link
