#include "ui/status_text.h"

#include <cstdio>

namespace qm::ui {
namespace {

// `format` takes the port number and then the baud rate; the parity line follows.
std::string StatusText(const char* format, const link::LinkSettings& link) {
  char head[96];
  std::snprintf(head, sizeof head, format, static_cast<int>(link.port), static_cast<int>(link.baud));
  return head + ParityStatusLine(link.parity);
}

}  // namespace

std::string ParityStatusLine(link::Parity parity) {
  switch (parity) {
    case link::Parity::None:
      return "校验位:无校验";
    case link::Parity::Odd:
      return "校验位:奇校验";
    case link::Parity::Even:
      return "校验位:偶校验";
    default:
      return {};
  }
}

std::string OpenedStatusText(const link::LinkSettings& link) {
  return StatusText("串行口: %d \r\n\r\n波特率:%d \r\n\r\n", link);
}

std::string CommSetStatusText(const link::LinkSettings& link) {
  return StatusText("串行口:%d \r\n\r\n波特率: %d \r\n\r\n", link);
}

std::string ScanHitStatusText(const link::LinkSettings& link) {
  return StatusText("串行口:%d\r\n\r\n波特率: %d\r\n\r\n", link);
}

std::string FactoryStatusText(const link::LinkSettings& link) {
  return StatusText("串行口: %d \r\n\r\n波特率: %d \r\n\r\n", link);
}

}  // namespace qm::ui
