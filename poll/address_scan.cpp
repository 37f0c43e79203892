#include "poll/address_scan.h"

namespace qm::poll {

int32_t ProbeAddressFor(int32_t nextProbeAddress) { return nextProbeAddress >= 255 ? 0 : nextProbeAddress; }

}  // namespace qm::poll
