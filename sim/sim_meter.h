#pragma once
#include <array>
#include <cstdint>
#include <deque>
#include <random>
#include <utility>
#include <vector>

#include "link/modbus.h"
#include "link/transport.h"

namespace qm::sim {

// Faults the meter can be told to commit on its next replies.
enum class Fault {
  None,
  Silence,       // no reply at all
  Late,          // the right reply, but after every reply wait of the program
  Noise,         // a few garbage bytes before the reply
  BadCrc,        // the reply with its CRC corrupted
  WrongAddress,  // the reply from another slave address
  Exception,     // an exception reply (function code | 0x80)
  Truncated,     // the reply cut short
  Flood,         // more than 400 garbage bytes, then the reply
  // For a master behind a gateway:
  GatewayPath,    // exception 0x0A: the gateway has no path to the meter
  GatewayTarget,  // exception 0x0B: the meter behind the gateway did not answer
  Close,          // the first half of the reply, then the connection closes (a line only stops)
  Stall,          // the first half of the reply, then nothing more
  WrongTid,       // Modbus TCP: the reply carries another transaction id (elsewhere a clean reply)
};

struct MeterConfig {
  uint8_t address = 1;
  int32_t baud = 9600;
  link::Parity parity = link::Parity::None;
  uint16_t model = 7410;
  uint16_t version = 1203;
  uint16_t pt = 1;
  uint16_t ct = 1;
  uint8_t wiring = 0;
  uint64_t seed = 1;
  uint8_t powerScale = 1;       // settings byte 11: 1 means powers are counted in units of 0.4 W
  uint8_t energyDecade = 0;     // settings byte 13: counters count 10^decade Wh
  uint8_t accuracy = 0;         // settings byte 35
  uint8_t direction = 0;        // settings byte 39: 1 reverses the sign of the powers
  uint8_t analogSelection = 1;  // settings byte 49
  uint32_t turnaroundMs = 5;    // pause between the end of a request and the start of its reply
};

// Where the settings live: data byte k of the settings block is memory 0x0300 + k.
constexpr uint16_t kSettingsBase = 0x0300;
constexpr uint16_t kIdentification = 0x03E0;
constexpr uint16_t kMemorySize = 0x0400;
// Time after the request by which a Late reply has not even started: longer than any reply wait.
constexpr uint32_t kLateReplyMs = 2000;
// Garbage that precedes the reply under Flood: more than the program's receive buffer holds.
constexpr int kFloodBytes = 450;
constexpr int kNoiseBytes = 3;

// The meter's baud code 0..4 for 1200..19200 baud, and back; -1 / 0 for anything else.
int MeterBaudCode(int32_t baud);
int32_t MeterBaudForCode(int code);

// The QM7410 as the program sees it: a byte-addressed memory answering 0x03 and 0x06.
//  - a read of N registers at A returns bytes A .. A+2N-1;
//  - measurement block: 41 words at 0x0000; settings block: 52 bytes at 0x0300; analog pairs at
//    0x0360..0x03DE; identification (model, version) at 0x03E0;
//  - a write at an address k below 0x0100 lands at 0x0300 + k, other writes at their own address.
// Its load moves like a real three-phase load and the energy counters grow with time.
class SimMeter {
 public:
  explicit SimMeter(MeterConfig config = {});

  struct Reply {
    std::vector<uint8_t> bytes;  // empty: the meter stays silent
    uint32_t delayMs = 0;        // turnaround after the request has arrived, before the reply starts
    std::vector<uint8_t> clean;  // the reply before any fault, for a gateway to re-frame
  };
  // One request frame as it arrived on a line with `line` settings. A frame on a line whose speed or
  // parity differs from the meter's, a frame for another address or a frame with a bad CRC gets no
  // reply. Side effects that change the line (baud code) apply after the reply.
  Reply Handle(const std::vector<uint8_t>& frame, const link::LineSettings& line);

  // Moves the simulated load to time `nowMs` (milliseconds since the meter started).
  void AdvanceTo(uint64_t nowMs);
  // Stops or resumes the motion of the load, so tests can set exact measurement words.
  void Freeze(bool frozen) { frozen_ = frozen; }

  void InjectFault(Fault fault, int count = 1);  // applies to the next `count` replies
  void ClearFaults() { faults_.clear(); }
  size_t PendingFaults() const {
    size_t n = 0;
    for (const auto& run : faults_) n += static_cast<size_t>(run.second);
    return n;
  }

  uint8_t Byte(uint16_t address) const { return memory_[address & 0x3FF]; }
  uint16_t Word(uint16_t address) const;
  void SetByte(uint16_t address, uint8_t value) { memory_[address & 0x3FF] = value; }
  void SetWord(uint16_t address, uint16_t value);
  void SetMeasurementWord(int n, uint16_t value) { SetWord(static_cast<uint16_t>(2 * n), value); }
  uint32_t Energy(int counter) const;  // 0..3: import P, export P, import Q, export Q

  uint8_t Address() const { return memory_[0x301]; }
  int32_t Baud() const;
  link::Parity Parity() const { return parity_; }
  void SetLine(int32_t baud, link::Parity parity);
  int FramesHandled() const { return framesHandled_; }
  bool Frozen() const { return frozen_; }
  uint64_t NowMs() const { return now_; }
  // Why the last frame got no regular reply ("" when it got one): "line", "address", "crc", "short".
  const char* LastRefusal() const { return lastRefusal_; }
  // The fault committed on the last reply (None when it went out clean or there was none).
  Fault LastFault() const { return lastFault_; }

 private:
  std::vector<uint8_t> Apply(const std::vector<uint8_t>& frame);
  std::vector<uint8_t> ExceptionReply(uint8_t function, link::ExceptionCode code) const;
  void WriteRegister(uint16_t reg, uint16_t value);
  void UpdateMeasurements();
  void AddEnergy(int counter, double secondaryWh);
  std::vector<uint8_t> Garbage(int count, uint8_t avoid);
  std::vector<uint8_t> Corrupt(std::vector<uint8_t> reply, Fault fault);

  std::array<uint8_t, 0x400> memory_{};
  std::deque<std::pair<Fault, int>> faults_;  // runs of the same fault, oldest first
  link::Parity parity_ = link::Parity::None;
  bool frozen_ = false;
  uint64_t now_ = 0;
  std::array<double, 4> energyFraction_{};
  std::mt19937_64 rng_;
  int framesHandled_ = 0;
  uint32_t turnaroundMs_ = 5;
  uint64_t seed_ = 1;
  const char* lastRefusal_ = "";
  Fault lastFault_ = Fault::None;
};

}  // namespace qm::sim
