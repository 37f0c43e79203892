#pragma once
#include <cstdint>
#include <span>
#include <string>

namespace qm::poll {

// The identification block: model and version, 2 registers read at 0x03E0.
constexpr uint16_t kIdentificationAddress = 0x03E0;
constexpr uint16_t kIdentificationQuantity = 2;
constexpr int kIdentificationBytes = 2 * kIdentificationQuantity;

struct Identification {
  uint16_t model = 0;
  uint16_t version = 0;
};
Identification ParseIdentification(std::span<const uint8_t, kIdentificationBytes> data);

// Window title built from the identification block: "VM<model>智能电力监测仪------Velmora(a.b.cd版)",
// where a, b, cd are the first, second and third-and-fourth characters of the version's decimal
// text. Pieces past the end of that text are empty; characters past the fourth are dropped.
std::string IdentificationTitle(uint16_t model, uint16_t version);

}  // namespace qm::poll
