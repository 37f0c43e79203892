#pragma once
// Bytes as they cross a serial line between two UARTs that may not agree on speed or parity: the
// sender serialises each character at its own rate, the receiver samples at its own.
#include <cstdint>
#include <vector>

#include "link/transport.h"

namespace qm::sim {

struct UartChar {
  uint8_t value = 0;
  bool framingError = false;  // the stop bit was sampled low
  bool parityError = false;
  bool operator==(const UartChar&) const = default;
};

// What a UART set to `rx` decodes from `bytes` sent back to back by a UART set to `tx`. The sender
// puts out a start bit (0), the data bits least significant first, the parity bit if any and the
// stop bits (1), with the idle line at 1 before and after. The receiver waits for a falling edge,
// which it notices at its next 16x clock tick (on average half a tick late), checks the start bit at
// the middle of its own bit time, samples each further bit at the middle of its bit at its own rate,
// checks parity and the first stop bit, and then waits for the next falling edge. A start bit found
// high again is a false start and yields nothing. With equal settings the bytes come back as sent.
std::vector<UartChar> UartReceive(const std::vector<uint8_t>& bytes, const link::LineSettings& tx,
                                  const link::LineSettings& rx);

// The decoded values only, as a serial driver in raw mode delivers them (errors are not marked).
std::vector<uint8_t> UartGarble(const std::vector<uint8_t>& bytes, const link::LineSettings& tx,
                                const link::LineSettings& rx);

// Whether two line settings put the same characters on the wire.
bool SameFraming(const link::LineSettings& a, const link::LineSettings& b);

}  // namespace qm::sim
