#pragma once
#include <array>
#include <cstdint>

namespace qm {

constexpr uint8_t kFnReadHolding = 0x03;
constexpr uint8_t kFnWriteSingle = 0x06;
constexpr int kRequestSize = 8;
constexpr int kReceiveSize = 400;

using RequestFrame = std::array<uint8_t, kRequestSize>;
using ReceiveBuffer = std::array<uint8_t, kReceiveSize>;

// Fills all 8 bytes: address, function, register (high first), quantity or value (high first), CRC.
void BuildRequest(RequestFrame& frame, uint8_t address, uint8_t function, uint16_t reg, uint16_t word);

// Expected reply length: 5 + 2 * quantity for a read, the 8-byte echo for a write.
int16_t ExpectedReplyLength(uint8_t function, uint16_t quantity);

}  // namespace qm
