#include "link/exchange.h"

#include <algorithm>
#include <cstring>

#include "link/find_response.h"

namespace qm::link {

void SendFrame(CMSComm& comm, const uint8_t* data, int16_t length) {
  if (!comm.GetPortOpen() || length <= 0) return;
  comm.SetOutput(std::vector<uint8_t>(data, data + length));
}

int16_t CopyReceived(const std::vector<uint8_t>& delivered, int16_t count, ReceiveBuffer& rx) {
  const size_t n = std::min({static_cast<size_t>(std::max<int16_t>(count, 0)), delivered.size(), rx.size()});
  if (n) std::memcpy(rx.data(), delivered.data(), n);
  return static_cast<int16_t>(n);
}

ExchangeResult Exchange(LinkContext link, uint8_t address, uint8_t function, uint16_t reg, uint16_t word,
                        uint32_t waitMs, ReplyMode mode) {
  BuildRequest(link.request, address, function, reg, word);
  link.comm.GetInput();  // stale bytes, a late reply among them, are never examined
  SendFrame(link.comm, link.request.data(), kRequestSize);
  link.clock.Sleep(waitMs);

  ExchangeResult result;
  if (mode == ReplyMode::None) return result;
  const int16_t count = link.comm.GetInBufferCount();
  result.received = CopyReceived(link.comm.GetInput(), count, link.receive);
  if (mode != ReplyMode::Check) return result;
  result.index = FindResponse(link.receive.data(), result.received, function, address,
                              ExpectedReplyLength(function, word));
  if (result.index < 0) return result;
  const int begin = result.index + ReplyDataOffset(function);
  const int size = ReplyDataSize(function, word);
  if (begin + size <= result.received)
    result.data = std::span<const uint8_t>(link.receive.data() + begin, static_cast<size_t>(size));
  return result;
}

}  // namespace qm::link
