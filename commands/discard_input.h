#pragma once
#include "link/mscomm.h"

namespace qm::commands {

// Reads whatever the port holds and throws it away: a late reply, or bytes that came with a port
// just opened, are not left for the next exchange to read as its own.
inline void DiscardWaitingInput(link::CMSComm& comm) { static_cast<void>(comm.GetInput()); }

}  // namespace qm::commands
