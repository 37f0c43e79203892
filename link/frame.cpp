#include "link/frame.h"

#include "link/crc16.h"

namespace qm::link {

void BuildRequest(RequestFrame& frame, uint8_t address, uint8_t function, uint16_t reg, uint16_t word) {
  frame[0] = address;
  frame[1] = function;
  frame[2] = static_cast<uint8_t>(reg >> 8);
  frame[3] = static_cast<uint8_t>(reg & 0xFF);
  frame[4] = static_cast<uint8_t>(word >> 8);
  frame[5] = static_cast<uint8_t>(word & 0xFF);
  const uint16_t crc = CalcCrc16(frame.data(), 6);
  frame[6] = static_cast<uint8_t>(crc >> 8);
  frame[7] = static_cast<uint8_t>(crc & 0xFF);
}

int ReplyDataOffset(uint8_t function) { return function == kFnReadHolding ? kReadDataAt : kWriteDataAt; }

int ReplyDataSize(uint8_t function, uint16_t quantity) {
  return function == kFnReadHolding ? 2 * quantity : kWriteDataSize;
}

int16_t ExpectedReplyLength(uint8_t function, uint16_t quantity) {
  return static_cast<int16_t>(ReplyDataOffset(function) + ReplyDataSize(function, quantity) + kCrcSize);
}

}  // namespace qm::link
