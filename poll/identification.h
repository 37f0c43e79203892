#pragma once
#include <cstdint>
#include <span>
#include <string>

namespace qm::poll {

// Model and version from the data of the identification block (meter/registers.h), one word each.
struct Identification {
  uint16_t model = 0;
  uint16_t version = 0;
};
Identification ParseIdentification(std::span<const uint8_t> data);

// Window title built from the identification block: "VM<model>智能电力监测仪------Velmora(a.b.cd版)",
// where a, b, cd are the first, second and third-and-fourth characters of the version's decimal
// text. Pieces past the end of that text are empty; characters past the fourth are dropped.
std::string IdentificationTitle(uint16_t model, uint16_t version);

}  // namespace qm::poll
