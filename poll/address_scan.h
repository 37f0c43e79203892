#pragma once
#include <cstdint>

namespace qm::poll {

// A probe reads one word at the start of the settings block: the slave address setting.
inline constexpr uint16_t kProbeWords = 1;

// The address a scan tick probes: 255 and above start over at 0, so 255 is never probed.
int32_t ProbeAddressFor(int32_t nextProbeAddress);

}  // namespace qm::poll
