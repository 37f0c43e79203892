#pragma once
#include <cstdint>
#include <string>

namespace qm::meter {

// What a request of the program reads or writes, in a trace's words: "measurements", "settings",
// "identification", "PT ratio", ...; empty for a register the program has no name for.
std::string RegisterName(uint8_t function, uint16_t reg, uint16_t words);

}  // namespace qm::meter
