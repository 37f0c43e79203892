#include "link/crc16.h"

#include <array>

namespace qm::link {
namespace {

// The published Modbus tables follow from the reflected polynomial 0xA001: the byte sent first takes
// the low half of the per-byte remainder, the byte sent second the high half. Built at compile time so
// the data cannot carry a typo.
constexpr uint16_t Remainder(unsigned byte) {
  uint16_t crc = static_cast<uint16_t>(byte);
  for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
  return crc;
}

constexpr std::array<uint8_t, 256> MakeTable(bool high) {
  std::array<uint8_t, 256> table{};
  for (unsigned i = 0; i < 256; ++i) {
    const uint16_t r = Remainder(i);
    table[i] = static_cast<uint8_t>(high ? (r & 0xFF) : (r >> 8));
  }
  return table;
}

}  // namespace

constinit const std::array<uint8_t, 256> kCrcHighTable = MakeTable(true);
constinit const std::array<uint8_t, 256> kCrcLowTable = MakeTable(false);

uint16_t CalcCrc16(const uint8_t* data, int16_t length) {
  uint8_t hi = 0xFF;
  uint8_t lo = 0xFF;
  for (int16_t n = 0; n < length; ++n) {
    const uint8_t index = hi ^ data[n];
    hi = lo ^ kCrcHighTable[index];
    lo = kCrcLowTable[index];
  }
  return static_cast<uint16_t>(hi << 8 | lo);
}

}  // namespace qm::link
