#include "commands/meter_writes.h"

#include "link/link_settings.h"

namespace qm {

std::string AccuracyCaption(uint8_t code) { return code != 0 ? "0.2级" : "0.5级"; }

std::string FactoryStatusText(int32_t port, int32_t baud) {
  return StatusText("串行口: %d \r\n\r\n波特率: %d \r\n\r\n", port, baud, 0);
}

}  // namespace qm
