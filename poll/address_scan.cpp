#include "poll/address_scan.h"

#include "link/link_settings.h"

namespace qm::poll {

int32_t ProbeAddressFor(int32_t nextProbeAddress) { return nextProbeAddress >= 255 ? 0 : nextProbeAddress; }

std::string ScanHitStatusText(int32_t port, int32_t baud, int32_t parity) {
  return qm::StatusText("串行口:%d\r\n\r\n波特率: %d\r\n\r\n", port, baud, parity);
}

}  // namespace qm::poll
