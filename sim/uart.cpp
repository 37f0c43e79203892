#include "sim/uart.h"

#include <algorithm>

namespace qm::sim {
namespace {

bool ParityBit(uint8_t value, int dataBits, link::Parity parity) {
  int ones = 0;
  for (int b = 0; b < dataBits; ++b) ones += (value >> b) & 1;
  // Even: the total number of ones is even; odd: it is odd.
  return parity == link::Parity::Even ? (ones & 1) != 0 : (ones & 1) == 0;
}

int DataBits(const link::LineSettings& s) { return std::clamp(s.dataBits, 5, 8); }
bool HasParity(const link::LineSettings& s) { return s.parity != link::Parity::None; }

}  // namespace

bool SameFraming(const link::LineSettings& a, const link::LineSettings& b) {
  return a.baud == b.baud && DataBits(a) == DataBits(b) && HasParity(a) == HasParity(b) &&
         (!HasParity(a) || a.parity == b.parity) && std::max(a.stopBits, 1) == std::max(b.stopBits, 1);
}

std::vector<UartChar> UartReceive(const std::vector<uint8_t>& bytes, const link::LineSettings& tx,
                                  const link::LineSettings& rx) {
  // The line as bits at the sender's rate: one idle bit, then the characters back to back.
  std::vector<uint8_t> bits{1};
  const int txData = DataBits(tx);
  for (const uint8_t byte : bytes) {
    bits.push_back(0);
    for (int b = 0; b < txData; ++b) bits.push_back((byte >> b) & 1);
    if (HasParity(tx)) bits.push_back(ParityBit(byte, txData, tx.parity) ? 1 : 0);
    for (int s = 0; s < std::max(tx.stopBits, 1); ++s) bits.push_back(1);
  }
  // Time in whole units of 1 / (32 * txBaud * rxBaud) seconds, so every moment below is exact: a
  // sender's bit lasts 32 * rxBaud units, a receiver's bit 32 * txBaud units, a 16x tick 2 * txBaud.
  const int64_t txBit = 32LL * std::max(rx.baud, 1);
  const int64_t rxBit = 32LL * std::max(tx.baud, 1);
  const auto level = [&](int64_t t) {
    const int64_t index = t / txBit;
    return index < static_cast<int64_t>(bits.size()) ? bits[static_cast<size_t>(index)] : uint8_t{1};
  };
  // Falling edges can only come where a sender's bit begins.
  const auto nextEdge = [&](int64_t after) -> int64_t {
    for (int64_t k = std::max<int64_t>(1, after / txBit + 1); k < static_cast<int64_t>(bits.size()); ++k)
      if (bits[static_cast<size_t>(k - 1)] == 1 && bits[static_cast<size_t>(k)] == 0) return k * txBit;
    return -1;
  };

  std::vector<UartChar> out;
  const int rxData = DataBits(rx);
  for (int64_t edge = nextEdge(-1); edge >= 0;) {
    const int64_t seen = edge + rxBit / 32;  // half a 16x tick late on average
    const auto sample = [&](int bit) { return level(seen + rxBit * bit + rxBit / 2); };
    if (sample(0) != 0) {
      edge = nextEdge(seen + rxBit / 2);  // a false start
      continue;
    }
    UartChar c;
    for (int b = 0; b < rxData; ++b)
      if (sample(1 + b)) c.value = static_cast<uint8_t>(c.value | (1 << b));
    int next = 1 + rxData;
    if (HasParity(rx)) {
      c.parityError = (sample(next) != 0) != ParityBit(c.value, rxData, rx.parity);
      ++next;
    }
    c.framingError = sample(next) == 0;
    out.push_back(c);
    edge = nextEdge(seen + rxBit * next + rxBit / 2);
  }
  return out;
}

std::vector<uint8_t> UartGarble(const std::vector<uint8_t>& bytes, const link::LineSettings& tx,
                                const link::LineSettings& rx) {
  if (SameFraming(tx, rx)) return bytes;
  std::vector<uint8_t> out;
  for (const UartChar& c : UartReceive(bytes, tx, rx)) out.push_back(c.value);
  return out;
}

}  // namespace qm::sim
