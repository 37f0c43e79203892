#include "link/link_settings.h"

#include <cstdio>
#include <iterator>

namespace qm {

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

std::string SettingsString(int32_t baud, int32_t parity) {
  static const char* const kSuffix[] = {"N,8,1", "O,8,1", "E,8,1"};
  return std::to_string(baud) + "," + kSuffix[(parity >= 0 && parity <= 2) ? parity : 0];
}

std::string ParityStatusLine(int32_t parity) {
  switch (parity) {
    case 0:
      return "校验位:无校验";
    case 1:
      return "校验位:奇校验";
    case 2:
      return "校验位:偶校验";
    default:
      return {};
  }
}

std::string StatusText(const char* format, int32_t port, int32_t baud, int32_t parity) {
  char head[96];
  std::snprintf(head, sizeof head, format, static_cast<int>(port), static_cast<int>(baud));
  return head + ParityStatusLine(parity);
}

namespace {
constexpr int32_t kBaudRates[] = {1200, 2400, 4800, 9600, 19200};  // indexed by baud code
}  // namespace

int BaudCode(int32_t baud) {
  for (int code = 0; code < static_cast<int>(std::size(kBaudRates)); ++code)
    if (kBaudRates[code] == baud) return code;
  return -1;
}

int32_t BaudForCode(int code) {
  return code >= 0 && code < static_cast<int>(std::size(kBaudRates)) ? kBaudRates[code] : 0;
}

}  // namespace qm
