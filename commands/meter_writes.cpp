#include "commands/meter_writes.h"

#include "link/link_settings.h"

namespace qm {

std::string WiringCaption(int code) {
  static const char* const kCaptions[kWiringCodeCount] = {"3相4线(非平衡)", "单相2线",     "3相3线(非平衡)",
                                                          "3相3线(平衡)",   "单相3线",     "3相4线(平衡)"};
  return code >= 0 && code < kWiringCodeCount ? kCaptions[code] : "";
}

std::string AccuracyCaption(uint8_t code) { return code != 0 ? "0.2级" : "0.5级"; }

std::string FactoryStatusText(int32_t port, int32_t baud) {
  return StatusText("串行口: %d \r\n\r\n波特率: %d \r\n\r\n", port, baud, 0);
}

}  // namespace qm
