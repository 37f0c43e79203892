#include "meter/codes.h"

namespace qm::meter {

int BaudCode(int32_t baud) {
  for (size_t code = 0; code < kBaudRates.size(); ++code)
    if (kBaudRates[code] == baud) return static_cast<int>(code);
  return -1;
}

int32_t BaudForCode(int code) {
  return code >= 0 && code < static_cast<int>(kBaudRates.size()) ? kBaudRates[static_cast<size_t>(code)] : 0;
}

std::string WiringCaption(int code) {
  return code >= 0 && code < kWiringCodeCount ? kWiringCaptions[static_cast<size_t>(code)] : "";
}

std::string AccuracyCaption(uint8_t code) {
  switch (code) {
    case kAccuracy05:
      return "0.5级";
    case kAccuracy02:
      return "0.2级";
    default:
      return {};
  }
}

int32_t EnergyMultiplier(uint8_t decade, int32_t previous) {
  static constexpr std::array<int32_t, 7> kTable{1, 10, 100, 1000, 10000, 100000, 1000000};
  return decade < kTable.size() ? kTable[decade] : previous;
}

}  // namespace qm::meter
