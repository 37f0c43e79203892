#include "poll/identification.h"

#include "text/text_format.h"

namespace qm::poll {

Identification ParseIdentification(std::span<const uint8_t> d) {
  if (d.size() < 4) return {};
  return {static_cast<uint16_t>(d[0] << 8 | d[1]), static_cast<uint16_t>(d[2] << 8 | d[3])};
}

std::string IdentificationTitle(uint16_t model, uint16_t version) {
  const std::string digits = text::Printf("%d", static_cast<int>(version));
  const auto piece = [&digits](size_t pos, size_t count) {
    return pos < digits.size() ? digits.substr(pos, count) : std::string();
  };
  return text::Printf("VM%d", static_cast<int>(model)) + "智能电力监测仪------Velmora(" + piece(0, 1) + "." +
         piece(1, 1) + "." + piece(2, 2) + "版)";
}

}  // namespace qm::poll
