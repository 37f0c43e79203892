#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace qm::sim {

// Cuts the byte stream a serial line delivers into request frames: bytes accumulate; a frame whose
// CRC checks at the start of the buffer is taken; a start that cannot begin a frame loses one byte;
// a pause longer than an inter-frame silence forgets a half-received frame.
class RequestFramer {
 public:
  explicit RequestFramer(double silenceMs = 20.0) : silenceMs_(silenceMs) {}
  void SetSilenceMs(double ms) { silenceMs_ = ms; }
  double SilenceMs() const { return silenceMs_; }

  // Adds bytes that arrived at `nowMs`; returns the complete frames they finish, oldest first.
  std::vector<std::vector<uint8_t>> Feed(const uint8_t* data, size_t size, double nowMs);
  std::vector<std::vector<uint8_t>> Feed(const std::vector<uint8_t>& bytes, double nowMs) {
    return Feed(bytes.data(), bytes.size(), nowMs);
  }
  // Forgets a half-received frame when the line has been quiet since the last byte.
  void Expire(double nowMs);

  size_t Pending() const { return buffer_.size(); }
  double LastByteMs() const { return lastByteMs_; }
  // Bytes thrown away so far (garbage, or frames cut by a pause).
  uint64_t Dropped() const { return dropped_; }

 private:
  std::vector<uint8_t> buffer_;
  double silenceMs_;
  double lastByteMs_ = 0;
  uint64_t dropped_ = 0;
};

// Inter-frame silence of a line: three and a half characters, and never below `floorMs` so that a
// scheduler's hiccup in the middle of a frame does not cut it.
double InterFrameSilenceMs(int32_t baud, bool parity, int stopBits, double floorMs);

}  // namespace qm::sim
