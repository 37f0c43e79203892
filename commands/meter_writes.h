#pragma once
#include <array>
#include <cstdint>
#include <string>

#include "commands/register_write.h"

namespace qm {

// Registers the configuration commands write (byte addresses of the meter; an address below 0x0100
// lands at 0x0300 plus that address, in the settings block).
constexpr uint16_t kRegSlaveAddress = 0x0000;
constexpr uint16_t kRegWiring = 0x0002;
constexpr uint16_t kRegPtRatio = 0x030E;
constexpr uint16_t kRegCtRatio = 0x0312;
constexpr uint16_t kRegAccuracy = 0x0022;
constexpr uint16_t kRegPowerDirection = 0x0026;
constexpr uint16_t kRegBaud = 0x0308;  // the meter's baud code, 0..4

// Power direction flag: 0 normal, 1 reversed.
constexpr int32_t kDirectionNormal = 0;
constexpr int32_t kDirectionReversed = 1;

// Meter settings dialog limits for the PT and CT ratios.
constexpr uint32_t kRatioMin = 1;
constexpr uint32_t kRatioMax = 64000;
constexpr int kWiringCodeCount = 6;

// The wiring mode of code 0..5 as the meter settings dialog names it ("3相4线(非平衡)"); empty for
// any other code.
std::string WiringCaption(int code);

// Energy reset: the switch at 0x0004 frames the clearing of the two counters. Every write waits a
// fixed time and reads no reply.
constexpr uint32_t kEnergyResetWaitMs = 300;
inline constexpr std::array<RegisterWrite, 4> kEnergyResetWrites{{
    {0x0004, 1, ReplyMode::None},
    {0x001A, 0, ReplyMode::None},
    {0x001C, 0, ReplyMode::None},
    {0x0004, 0, ReplyMode::None},
}};

// Factory initialisation: these go to the current slave address, the last of them moving the meter
// to address 1; then kFactoryBaudWrite goes to address 1 and its drained reply is the only one judged.
inline constexpr std::array<RegisterWrite, 8> kFactoryInitWrites{{
    {kRegAccuracy, 1, ReplyMode::None},
    {0x000E, 1, ReplyMode::None},
    {0x0012, 1, ReplyMode::None},
    {kRegWiring, 0, ReplyMode::None},
    {0x0004, 1, ReplyMode::None},
    {0x001A, 0, ReplyMode::None},
    {0x001C, 0, ReplyMode::Drain},
    {kRegSlaveAddress, 1, ReplyMode::None},
}};
constexpr uint8_t kFactorySlaveAddress = 1;
constexpr RegisterWrite kFactoryBaudWrite{0x0008, 3, ReplyMode::Drain};  // baud code 3: 9600
constexpr int32_t kFactoryBaud = 9600;
constexpr const char* kFactoryPortSettings = "9600,N,8,2";

// The power direction to write: normal (0) becomes reversed (1); anything else becomes normal.
constexpr uint16_t ReversedPowerDirection(int32_t flag) {
  return flag == kDirectionNormal ? kDirectionReversed : kDirectionNormal;
}

// The accuracy code after a toggle: 0 (class 0.5) becomes 1 (class 0.2), any other value 0.
constexpr uint8_t ToggledAccuracy(uint8_t code) { return code == 0 ? 1 : 0; }

// Caption of the accuracy button: "0.2级" for any code but 0, "0.5级" for 0 (UTF-8).
std::string AccuracyCaption(uint8_t code);

// Status text after a successful factory initialisation: port, baud rate, and no parity (UTF-8).
std::string FactoryStatusText(int32_t port, int32_t baud);

}  // namespace qm
