#pragma once
// What every harness shares: a failed property aborts with its text (libFuzzer then keeps the input
// as a crash), and an independent bitwise CRC-16/MODBUS to judge frames by.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(cond, ...)                                                              \
  do {                                                                                     \
    if (!(cond)) {                                                                         \
      std::fprintf(stderr, "\nproperty failed at %s:%d: %s\n", __FILE__, __LINE__, #cond); \
      std::fprintf(stderr, "" __VA_ARGS__);                                                \
      std::fputc('\n', stderr);                                                            \
      std::abort();                                                                        \
    }                                                                                      \
  } while (0)

namespace fuzz {

// The conventional CRC-16/MODBUS value (reflected polynomial 0xA001, start 0xFFFF), bit by bit.
inline uint16_t ModbusCrc(const uint8_t* data, size_t size) {
  uint16_t crc = 0xFFFF;
  for (size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
  }
  return crc;
}

// True when the last two of `size` bytes are the CRC of the others: low byte first on the wire.
inline bool CrcOk(const uint8_t* frame, size_t size) {
  if (size < 3) return false;
  const uint16_t crc = ModbusCrc(frame, size - 2);
  return frame[size - 2] == (crc & 0xFF) && frame[size - 1] == (crc >> 8);
}

inline void PutCrc(uint8_t* frame, size_t size) {
  const uint16_t crc = ModbusCrc(frame, size - 2);
  frame[size - 2] = static_cast<uint8_t>(crc & 0xFF);
  frame[size - 1] = static_cast<uint8_t>(crc >> 8);
}

}  // namespace fuzz
