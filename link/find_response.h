#pragma once
#include <cstdint>

namespace qm::link {

// Index of the first valid reply frame among the first `length` bytes of `buffer`, or -1. A frame is
// valid when it starts with `address` and `function` and its last two bytes are the CRC of the rest.
// The byte-count field of a read reply is deliberately not examined.
int16_t FindResponse(const uint8_t* buffer, int16_t length, uint8_t function, uint8_t address,
                     int16_t frameLength);

}  // namespace qm::link
