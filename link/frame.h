#pragma once
#include <array>
#include <cstdint>

namespace qm::link {

inline constexpr uint8_t kFnReadHolding = 0x03;
inline constexpr uint8_t kFnWriteSingle = 0x06;
inline constexpr int kRequestSize = 8;
inline constexpr int kReceiveSize = 400;

using RequestFrame = std::array<uint8_t, kRequestSize>;
using ReceiveBuffer = std::array<uint8_t, kReceiveSize>;

// Reply geometry. Every reply starts with the slave address and the function code and ends with the
// two CRC bytes. A read reply carries a byte count and then the data (two bytes per register); a
// write reply echoes the register and the value, four bytes, which are its data.
inline constexpr int kReadDataAt = 3;
inline constexpr int kWriteDataAt = 2;
inline constexpr int kWriteDataSize = 4;
inline constexpr int kCrcSize = 2;

// Fills all 8 bytes: address, function, register (high first), quantity or value (high first), CRC.
void BuildRequest(RequestFrame& frame, uint8_t address, uint8_t function, uint16_t reg, uint16_t word);

// Where a reply's data begin and how many bytes they are: for a read the 2 * quantity bytes the
// request asked for (the byte-count field is not consulted), for a write the echo.
int ReplyDataOffset(uint8_t function);
int ReplyDataSize(uint8_t function, uint16_t quantity);

// Expected reply length: 5 + 2 * quantity for a read, the 8-byte echo for a write.
int16_t ExpectedReplyLength(uint8_t function, uint16_t quantity);

}  // namespace qm::link
