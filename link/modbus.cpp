#include "link/modbus.h"

#include "link/crc16.h"

namespace qm::link {

const char* ExceptionName(uint8_t code) {
  switch (static_cast<ExceptionCode>(code)) {
    case ExceptionCode::IllegalFunction:
      return "illegal function";
    case ExceptionCode::IllegalDataAddress:
      return "illegal data address";
    case ExceptionCode::IllegalDataValue:
      return "illegal data value";
    case ExceptionCode::DeviceFailure:
      return "device failure";
    case ExceptionCode::Acknowledge:
      return "acknowledge";
    case ExceptionCode::DeviceBusy:
      return "device busy";
    case ExceptionCode::MemoryParityError:
      return "memory parity error";
    case ExceptionCode::GatewayPathUnavailable:
      return "gateway path unavailable";
    case ExceptionCode::GatewayTargetFailed:
      return "gateway target device failed to respond";
  }
  return "unknown exception";
}

bool IsGatewayException(uint8_t code) {
  return code == static_cast<uint8_t>(ExceptionCode::GatewayPathUnavailable) ||
         code == static_cast<uint8_t>(ExceptionCode::GatewayTargetFailed);
}

// CalcCrc16 keeps the byte sent first in its high half.
void AppendCrc(std::vector<uint8_t>& frame) {
  const uint16_t crc = CalcCrc16(frame.data(), static_cast<int16_t>(frame.size()));
  frame.push_back(static_cast<uint8_t>(crc >> 8));
  frame.push_back(static_cast<uint8_t>(crc & 0xFF));
}

bool CrcOk(std::span<const uint8_t> frame) {
  if (frame.size() < 3 || frame.size() > 32767) return false;
  const size_t n = frame.size() - 2;
  const uint16_t crc = CalcCrc16(frame.data(), static_cast<int16_t>(n));
  return frame[n] == (crc >> 8) && frame[n + 1] == (crc & 0xFF);
}

std::span<const uint8_t> FindAnyFrame(std::span<const uint8_t> bytes) {
  const uint8_t* b = bytes.data();
  const size_t n = bytes.size();
  for (size_t i = 0; i + 4 < n; ++i) {
    const uint8_t fn = b[i + 1];
    size_t length = 0;
    if (fn & kExceptionBit)
      length = 5;  // address, function, code, CRC
    else if (fn == 0x03)
      length = 5 + size_t{b[i + 2]};  // address, function, byte count, data, CRC
    else if (fn == 0x06)
      length = 8;  // address, function, register, value, CRC
    if (length && i + length <= n && CrcOk({b + i, length})) return {b + i, length};
  }
  return {};
}

}  // namespace qm::link
