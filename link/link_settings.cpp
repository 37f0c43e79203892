#include "link/link_settings.h"

namespace qm::link {

TimingSet TimingForBaud(int32_t baud) {
  switch (baud) {
    case 1200:
      return {2500, 900, 1500};
    case 2400:
      return {1500, 400, 1000};
    case 4800:
      return {1000, 300, 600};
    case 19200:
      return {500, 150, 250};
    default:
      return {700, 200, 400};
  }
}

std::string SettingsString(int32_t baud, Parity parity) {
  return std::to_string(baud) + "," + ParityLetter(parity) + ",8,1";
}

}  // namespace qm::link
