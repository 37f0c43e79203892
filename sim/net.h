#pragma once
// The network side of qm7410-sim: TCP listeners and their clients, as behind a serial-to-Ethernet
// gateway.
#include <string>

namespace qm::sim {

// Listens on `host`:`port` (port "0" lets the system pick one). Returns the descriptor, non-blocking,
// and `bound` as "HOST:PORT" with the port really taken; -1 with `error` naming the address and the
// reason.
int ListenTcp(const std::string& host, const std::string& port, std::string& bound, std::string& error);

// Accepts one waiting client, non-blocking and without Nagle's delay, so a reply (or half of one)
// leaves at once. -1 when none is waiting; `peer` is its "HOST:PORT".
int AcceptClient(int listener, std::string& peer);

}  // namespace qm::sim
