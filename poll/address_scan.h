#pragma once
#include <cstdint>
#include <string>

namespace qm::poll {

// The address a scan tick probes: 255 and above start over at 0, so 255 is never probed.
int32_t ProbeAddressFor(int32_t nextProbeAddress);

// Status box text after a scan hit: port, baud rate and the parity line (nothing for an unknown
// parity choice).
std::string ScanHitStatusText(int32_t port, int32_t baud, int32_t parity);

}  // namespace qm::poll
