#include "poll/address_scan.h"

#include "link/link_settings.h"
#include "poll/text_format.h"

namespace qm::poll {

int32_t ProbeAddressFor(int32_t nextProbeAddress) { return nextProbeAddress >= 255 ? 0 : nextProbeAddress; }

std::string ScanHitStatusText(int32_t port, int32_t baud, int32_t parity) {
  return Printf("串行口:%d\r\n\r\n波特率: %d\r\n\r\n", static_cast<int>(port), static_cast<int>(baud)) +
         qm::ParityStatusLine(parity);
}

}  // namespace qm::poll
