#pragma once
#include <cstdint>
#include <string>

namespace qm::poll {

// A probe reads one register at the start of the settings block.
constexpr uint16_t kProbeAddress = 0x0300;
constexpr uint16_t kProbeQuantity = 1;

// The address a scan tick probes: 255 and above start over at 0, so 255 is never probed.
int32_t ProbeAddressFor(int32_t nextProbeAddress);

// Status box text after a scan hit: port, baud rate and the parity line (nothing for an unknown
// parity choice).
std::string ScanHitStatusText(int32_t port, int32_t baud, int32_t parity);

}  // namespace qm::poll
