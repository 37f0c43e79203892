#include "commands/meter_writes.h"

#include <cstdio>

#include "link/link_settings.h"

namespace qm {

std::string AccuracyCaption(uint8_t code) { return code != 0 ? "0.2级" : "0.5级"; }

std::string FactoryStatusText(int32_t port, int32_t baud) {
  char head[96];
  std::snprintf(head, sizeof head, "串行口: %d \r\n\r\n波特率: %d \r\n\r\n", static_cast<int>(port),
                static_cast<int>(baud));
  return head + ParityStatusLine(0);
}

}  // namespace qm
