#pragma once
#include <string>

#include "sim/sim_meter.h"

namespace qm::sim {

// "silence", "late", "noise", "badcrc", "wrongaddress", "exception", "truncated", "flood",
// "gatewaypath", "gatewaytarget", "close", "stall", "wrongtid", optionally followed by ":COUNT" (COUNT 1
// to 1000000); false for anything else.
bool ParseFault(const std::string& text, Fault& fault, int& count);
const char* FaultName(Fault fault);

// One line of the simulator's command channel, applied to `meter`. The answer starts with "ok" or
// "error:"; `quit` becomes true for "quit". Commands:
//   fault KIND[:COUNT] | fault KIND COUNT   the next COUNT replies commit the fault
//   clear                                   forget pending faults
//   freeze | unfreeze                       stop or resume the motion of the load
//   set ADDR VALUE                          16-bit word at memory address ADDR (bytes, like the wire)
//   measure N VALUE                         measurement word N (0..40)
//   get ADDR                                read the word at ADDR
//   energy                                  the four energy counters
//   quit
std::string RunCommand(SimMeter& meter, const std::string& line, bool& quit);

}  // namespace qm::sim
