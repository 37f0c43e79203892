#pragma once
#include <array>
#include <cstdint>

#include "commands/register_write.h"
#include "meter/codes.h"
#include "meter/registers.h"

// The configuration commands' fixed writes. Each command keeps the register form it has always
// sent: page form (meter::InPage) or the bare offset (meter/registers.h).
namespace qm::commands {

namespace setting = meter::setting;
using link::ReplyMode;

inline constexpr uint16_t kRegSlaveAddress = setting::kSlaveAddress;
inline constexpr uint16_t kRegWiring = setting::kWiring;
inline constexpr uint16_t kRegPtRatio = meter::InPage(setting::kPtRatio);
inline constexpr uint16_t kRegCtRatio = meter::InPage(setting::kCtRatio);
inline constexpr uint16_t kRegAccuracy = setting::kAccuracy;
inline constexpr uint16_t kRegPowerDirection = setting::kPowerDirection;
inline constexpr uint16_t kRegBaud = meter::InPage(setting::kBaud);

// The port settings command's baud write waits this long, whatever the baud rate.
inline constexpr uint32_t kBaudWriteWaitMs = 300;

// Energy reset: the switch frames the clearing of the two counters. Every write waits a fixed time
// and reads no reply.
inline constexpr uint32_t kEnergyResetWaitMs = 300;
inline constexpr std::array<RegisterWrite, 4> kEnergyResetWrites{{
    {setting::kEnergySwitch, 1, ReplyMode::None},
    {setting::kEnergyClearFirst, 0, ReplyMode::None},
    {setting::kEnergyClearSecond, 0, ReplyMode::None},
    {setting::kEnergySwitch, 0, ReplyMode::None},
}};

// Factory initialisation: these go to the current slave address, the last of them moving the meter
// to address 1; then kFactoryBaudWrite goes to address 1 and its drained reply is the only one judged.
inline constexpr uint8_t kFactorySlaveAddress = 1;
inline constexpr int32_t kFactoryBaud = 9600;
inline constexpr std::array<RegisterWrite, 8> kFactoryInitWrites{{
    {kRegAccuracy, meter::kAccuracy02, ReplyMode::None},
    {setting::kPtRatio, 1, ReplyMode::None},
    {setting::kCtRatio, 1, ReplyMode::None},
    {kRegWiring, 0, ReplyMode::None},
    {setting::kEnergySwitch, 1, ReplyMode::None},
    {setting::kEnergyClearFirst, 0, ReplyMode::None},
    {setting::kEnergyClearSecond, 0, ReplyMode::Drain},
    {kRegSlaveAddress, kFactorySlaveAddress, ReplyMode::None},
}};
inline constexpr RegisterWrite kFactoryBaudWrite{setting::kBaud, 3, ReplyMode::Drain};  // 9600 baud
static_assert(meter::kBaudRates[kFactoryBaudWrite.value] == kFactoryBaud);
// The PC port after a factory initialisation: the meter's new rate, no parity, two stop bits.
inline constexpr const char* kFactoryPortSettings = "9600,N,8,2";

}  // namespace qm::commands
