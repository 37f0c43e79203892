#pragma once
#include <cstdint>

namespace qm::poll {

// The address a scan tick probes: 255 and above start over at 0, so 255 is never probed.
int32_t ProbeAddressFor(int32_t nextProbeAddress);

}  // namespace qm::poll
