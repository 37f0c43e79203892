#include "sim/request_framer.h"

#include <algorithm>
#include <span>

#include "link/modbus.h"

namespace qm::sim {
namespace {

constexpr size_t kFixedFrame = 8;  // functions 1 to 6: address, function, four bytes, CRC
constexpr size_t kMaxFrame = 256;  // the longest RTU frame

bool CrcAt(const std::vector<uint8_t>& b, size_t length) {
  return link::CrcOk(std::span<const uint8_t>(b.data(), length));
}

}  // namespace

double InterFrameSilenceMs(int32_t baud, bool parity, int stopBits, double floorMs) {
  const double bits = 1 + 8 + (parity ? 1 : 0) + stopBits;
  return std::max(floorMs, 3.5 * bits * 1000.0 / std::max(baud, 1));
}

void RequestFramer::Expire(double nowMs) {
  if (!buffer_.empty() && nowMs - lastByteMs_ > silenceMs_) {
    dropped_ += buffer_.size();
    buffer_.clear();
  }
}

std::vector<std::vector<uint8_t>> RequestFramer::Feed(const uint8_t* data, size_t size, double nowMs) {
  std::vector<std::vector<uint8_t>> frames;
  if (size == 0) return frames;
  Expire(nowMs);
  buffer_.insert(buffer_.end(), data, data + size);
  lastByteMs_ = nowMs;

  while (buffer_.size() >= kFixedFrame) {
    size_t length = 0;
    if (CrcAt(buffer_, kFixedFrame)) {
      length = kFixedFrame;
    } else if (buffer_[1] == 0x0F || buffer_[1] == 0x10) {
      // Multiple-register writes carry their own byte count; wait for the whole frame.
      const size_t need = 9 + static_cast<size_t>(buffer_[6]);
      if (need <= kMaxFrame && buffer_.size() < need) break;
      if (need <= kMaxFrame && CrcAt(buffer_, need)) length = need;
    }
    if (length == 0) {
      buffer_.erase(buffer_.begin());
      ++dropped_;
      continue;
    }
    frames.emplace_back(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(length));
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(length));
  }
  return frames;
}

}  // namespace qm::sim
