#include "sim/mbap.h"

#include <algorithm>

#include "link/modbus.h"

namespace qm::sim {

size_t RequestPduSize(const std::vector<uint8_t>& pdu) {
  switch (pdu[0]) {
    case 0x01:
    case 0x02:
    case 0x03:
    case 0x04:
    case 0x05:
    case 0x06:
      return 5;  // function, address, quantity or value
    case 0x0F:
    case 0x10:
      // function, address, quantity, byte count, data: the count says how much data follows
      return pdu.size() >= 6 ? 6 + static_cast<size_t>(pdu[5]) : 0;
    default:
      return 0;
  }
}

std::vector<MbapRequest> MbapFramer::Feed(const uint8_t* data, size_t size) {
  std::vector<MbapRequest> requests;
  buffer_.insert(buffer_.end(), data, data + size);
  while (buffer_.size() >= kMbapHeader) {
    const auto transaction = static_cast<uint16_t>(buffer_[0] << 8 | buffer_[1]);
    const auto protocol = static_cast<uint16_t>(buffer_[2] << 8 | buffer_[3]);
    const auto length = static_cast<size_t>(buffer_[4] << 8 | buffer_[5]);
    if (protocol != 0 || length < 2 || length > kMaxPdu + 1) {
      reasons_.push_back("MBAP header with protocol " + std::to_string(protocol) + " and length " +
                         std::to_string(length) + ": " + std::to_string(buffer_.size()) + " bytes dropped");
      dropped_ += buffer_.size();
      buffer_.clear();
      break;
    }
    const size_t total = 6 + length;
    if (buffer_.size() < total) break;
    MbapRequest request;
    request.transaction = transaction;
    request.unit = buffer_[6];
    request.pdu.assign(buffer_.begin() + kMbapHeader, buffer_.begin() + static_cast<std::ptrdiff_t>(total));
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(total));
    const size_t expected = RequestPduSize(request.pdu);
    if (expected != 0 && expected != request.pdu.size()) {
      reasons_.push_back("MBAP length " + std::to_string(length) + " does not match function " +
                         std::to_string(request.pdu[0]) + " (" + std::to_string(expected + 1) +
                         "): request dropped");
      dropped_ += total;
      continue;
    }
    requests.push_back(std::move(request));
  }
  return requests;
}

std::vector<std::string> MbapFramer::TakeDropReasons() {
  std::vector<std::string> out;
  out.swap(reasons_);
  return out;
}

// The frames are sized before they are filled: GCC 12 warns falsely (-Warray-bounds) on an insert
// after a short initializer list.
std::vector<uint8_t> RtuFrameOf(const MbapRequest& request) {
  std::vector<uint8_t> frame(1 + request.pdu.size());
  frame[0] = request.unit;
  std::copy(request.pdu.begin(), request.pdu.end(), frame.begin() + 1);
  link::AppendCrc(frame);
  return frame;
}

std::vector<uint8_t> MbapFrame(uint16_t transaction, uint8_t unit, const uint8_t* pdu, size_t size) {
  const size_t length = size + 1;
  std::vector<uint8_t> frame(kMbapHeader + size);
  frame[0] = static_cast<uint8_t>(transaction >> 8);
  frame[1] = static_cast<uint8_t>(transaction & 0xFF);
  frame[4] = static_cast<uint8_t>(length >> 8);
  frame[5] = static_cast<uint8_t>(length & 0xFF);
  frame[6] = unit;
  std::copy(pdu, pdu + size, frame.begin() + kMbapHeader);
  return frame;
}

}  // namespace qm::sim
