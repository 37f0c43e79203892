#pragma once
#include <cstdint>
#include <span>
#include <vector>

namespace qm::link {

// The Modbus exception codes, as the meter, a gateway and the simulated meter send them.
enum class ExceptionCode : uint8_t {
  IllegalFunction = 0x01,
  IllegalDataAddress = 0x02,
  IllegalDataValue = 0x03,
  DeviceFailure = 0x04,
  Acknowledge = 0x05,
  DeviceBusy = 0x06,
  MemoryParityError = 0x08,
  GatewayPathUnavailable = 0x0A,
  GatewayTargetFailed = 0x0B,
};

// The function code of an exception reply has this bit set.
inline constexpr uint8_t kExceptionBit = 0x80;

// "illegal data address", "gateway target device failed to respond", ...; "unknown exception" for a
// code Modbus does not define.
const char* ExceptionName(uint8_t code);
// True for the two codes only a gateway sends: the meter behind it is unreachable or silent.
bool IsGatewayException(uint8_t code);

// The CRC of an RTU frame travels low byte first. AppendCrc adds it to `frame`; CrcOk tells whether the
// last two bytes of `frame` are the CRC of the rest (false for a frame shorter than three bytes).
void AppendCrc(std::vector<uint8_t>& frame);
bool CrcOk(std::span<const uint8_t> frame);

// The first valid RTU frame among `bytes` whatever its slave: a read reply, a write or its echo, or
// an exception; its length follows from its function (and a read reply's byte count). Empty when
// there is none.
std::span<const uint8_t> FindAnyFrame(std::span<const uint8_t> bytes);

}  // namespace qm::link
