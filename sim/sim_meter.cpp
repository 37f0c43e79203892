#include "sim/sim_meter.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <numbers>

#include "link/frame.h"
#include "link/modbus.h"

namespace qm::sim {
namespace {

using link::AppendCrc;
using link::CrcOk;
using link::ExceptionCode;
constexpr int kMaxReadQuantity = 125;

// Settings block data bytes the meter acts on.
constexpr uint16_t kAddressByte = kSettingsBase + 1;
constexpr uint16_t kWiringByte = kSettingsBase + 3;
constexpr uint16_t kResetSwitch = kSettingsBase + 4;  // word
constexpr uint16_t kBaudByte = kSettingsBase + 9;
constexpr uint16_t kPowerScaleByte = kSettingsBase + 11;
constexpr uint16_t kDecadeByte = kSettingsBase + 13;
constexpr uint16_t kPtWord = kSettingsBase + 14;
constexpr uint16_t kCtWord = kSettingsBase + 18;
constexpr uint16_t kActiveClear = kSettingsBase + 0x1A;    // word
constexpr uint16_t kReactiveClear = kSettingsBase + 0x1C;  // word
constexpr uint16_t kAccuracyByte = kSettingsBase + 35;
constexpr uint16_t kDirectionByte = kSettingsBase + 39;
constexpr uint16_t kAnalogByte = kSettingsBase + 49;
constexpr uint16_t kFixedValue = 0x0332;
constexpr uint16_t kLowerLimit = 0x0334;
constexpr uint16_t kUpperLimit = 0x0336;

constexpr uint16_t kEnergyWord = 33;  // first of the four u32 counters, low word first

constexpr int32_t kBauds[] = {1200, 2400, 4800, 9600, 19200};

// Deterministic noise in [-1, 1] for a channel at a moment: the same seed gives the same load
// whatever the order in which the meter is asked.
double Noise(uint64_t seed, uint64_t channel, uint64_t tick) {
  uint64_t z = seed * 0x9E3779B97F4A7C15ULL + channel * 0xBF58476D1CE4E5B9ULL + tick * 0x94D049BB133111EBULL;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  z ^= z >> 31;
  return static_cast<double>(z >> 11) / static_cast<double>(1ULL << 52) - 1.0;
}

uint16_t ClampU16(double v) { return static_cast<uint16_t>(std::clamp(std::lround(v), 0L, 65535L)); }
uint16_t ClampS16(double v) {
  return static_cast<uint16_t>(static_cast<int16_t>(std::clamp(std::lround(v), -32768L, 32767L)));
}

}  // namespace

int MeterBaudCode(int32_t baud) {
  for (int code = 0; code < 5; ++code)
    if (kBauds[code] == baud) return code;
  return -1;
}

int32_t MeterBaudForCode(int code) { return code >= 0 && code < 5 ? kBauds[code] : 0; }

SimMeter::SimMeter(MeterConfig config)
    : parity_(config.parity), rng_(config.seed), turnaroundMs_(config.turnaroundMs), seed_(config.seed) {
  const int code = MeterBaudCode(config.baud);
  memory_[kAddressByte] = config.address;
  memory_[kWiringByte] = config.wiring;
  memory_[kBaudByte] = static_cast<uint8_t>(code >= 0 ? code : 3);
  memory_[kPowerScaleByte] = config.powerScale;
  memory_[kDecadeByte] = config.energyDecade;
  SetWord(kPtWord, config.pt);
  SetWord(kCtWord, config.ct);
  memory_[kAccuracyByte] = config.accuracy;
  memory_[kDirectionByte] = config.direction;
  memory_[kAnalogByte] = config.analogSelection;
  SetWord(kFixedValue, 0);
  SetWord(kLowerLimit, 100);
  SetWord(kUpperLimit, 300);
  SetWord(kIdentification, config.model);
  SetWord(kIdentification + 2, config.version);

  // Analog output ranges, one pair per measured quantity: the left value (0x039E + 2s) is the bottom
  // of the 4-20 mA range, the right value (0x035E + 2s) its top, in raw register units.
  static constexpr uint16_t kTop[8] = {22000, 38000, 50000, 60854, 10000, 10000, 10000, 30000};
  for (int s = 1; s <= 32; ++s) {
    const int kind = (s - 1) % 8;
    SetWord(static_cast<uint16_t>(0x035E + 2 * s), kTop[kind]);
    SetWord(static_cast<uint16_t>(0x039E + 2 * s), kind == 3 ? uint16_t{42129} : uint16_t{0});
  }

  // Counters that have been running for a while.
  const uint32_t start[4] = {1234567, 2345, 456789, 6789};
  for (int c = 0; c < 4; ++c) {
    SetWord(static_cast<uint16_t>(2 * (kEnergyWord + 2 * c)), static_cast<uint16_t>(start[c] & 0xFFFF));
    SetWord(static_cast<uint16_t>(2 * (kEnergyWord + 2 * c + 1)), static_cast<uint16_t>(start[c] >> 16));
  }
  UpdateMeasurements();
}

uint16_t SimMeter::Word(uint16_t address) const {
  return static_cast<uint16_t>(memory_[address & 0x3FF] << 8 | memory_[(address + 1) & 0x3FF]);
}

void SimMeter::SetWord(uint16_t address, uint16_t value) {
  memory_[address & 0x3FF] = static_cast<uint8_t>(value >> 8);
  memory_[(address + 1) & 0x3FF] = static_cast<uint8_t>(value & 0xFF);
}

uint32_t SimMeter::Energy(int counter) const {
  const auto low = static_cast<uint16_t>(2 * (kEnergyWord + 2 * counter));
  return static_cast<uint32_t>(Word(static_cast<uint16_t>(low + 2))) << 16 | Word(low);
}

int32_t SimMeter::Baud() const { return MeterBaudForCode(memory_[kBaudByte]); }

void SimMeter::SetLine(int32_t baud, link::Parity parity) {
  const int code = MeterBaudCode(baud);
  if (code >= 0) memory_[kBaudByte] = static_cast<uint8_t>(code);
  parity_ = parity;
}

void SimMeter::InjectFault(Fault fault, int count) {
  // Kept as runs: a command asking for a million faulty replies costs one entry, not a million.
  if (count <= 0) return;
  if (!faults_.empty() && faults_.back().first == fault && faults_.back().second <= INT_MAX - count)
    faults_.back().second += count;
  else
    faults_.emplace_back(fault, count);
}

SimMeter::Reply SimMeter::Handle(const std::vector<uint8_t>& frame, const link::LineSettings& line) {
  ++framesHandled_;
  lastRefusal_ = "";
  lastFault_ = Fault::None;
  Reply reply;
  if (line.baud != Baud() || line.parity != parity_) {
    lastRefusal_ = "line";  // the meter hears only garbled characters
    return reply;
  }
  if (frame.size() < 4) {
    lastRefusal_ = "short";
    return reply;
  }
  if (!CrcOk(frame)) {
    lastRefusal_ = "crc";
    return reply;
  }
  if (frame[0] != Address()) {
    lastRefusal_ = "address";
    return reply;
  }
  // The reply is built before any line change of the request takes effect: the echo of an address
  // write still carries the old address, a baud write is answered at the old rate.
  reply.bytes = Apply(frame);
  reply.delayMs = turnaroundMs_;
  reply.clean = reply.bytes;
  if (faults_.empty()) return reply;
  const Fault fault = faults_.front().first;
  if (--faults_.front().second == 0) faults_.pop_front();
  lastFault_ = fault;
  switch (fault) {
    case Fault::None:
      break;
    case Fault::Silence:
      reply.bytes.clear();
      break;
    case Fault::Late:
      reply.delayMs = kLateReplyMs;
      break;
    default:
      reply.bytes = Corrupt(std::move(reply.bytes), fault);
      break;
  }
  return reply;
}

std::vector<uint8_t> SimMeter::ExceptionReply(uint8_t function, link::ExceptionCode code) const {
  std::vector<uint8_t> out{Address(), static_cast<uint8_t>(function | link::kExceptionBit),
                           static_cast<uint8_t>(code)};
  AppendCrc(out);
  return out;
}

std::vector<uint8_t> SimMeter::Apply(const std::vector<uint8_t>& frame) {
  const uint8_t function = frame[1];
  if ((function != link::kFnReadHolding && function != link::kFnWriteSingle) || frame.size() != 8)
    return ExceptionReply(function, ExceptionCode::IllegalFunction);
  const uint16_t reg = static_cast<uint16_t>(frame[2] << 8 | frame[3]);
  const uint16_t word = static_cast<uint16_t>(frame[4] << 8 | frame[5]);

  if (function == link::kFnReadHolding) {
    if (word == 0 || word > kMaxReadQuantity || reg + 2 * word > kMemorySize)
      return ExceptionReply(function, ExceptionCode::IllegalDataAddress);
    // Sized first: GCC 12 warns falsely (-Warray-bounds) when the data are inserted after the header.
    std::vector<uint8_t> out(3 + 2 * static_cast<size_t>(word));
    out[0] = Address();
    out[1] = link::kFnReadHolding;
    out[2] = static_cast<uint8_t>(2 * word);
    std::copy(memory_.begin() + reg, memory_.begin() + reg + 2 * word, out.begin() + 3);
    AppendCrc(out);
    return out;
  }

  const uint16_t target = reg < 0x0100 ? static_cast<uint16_t>(kSettingsBase + reg) : reg;
  if (target + 2 > kMemorySize) return ExceptionReply(function, ExceptionCode::IllegalDataAddress);
  if (target == kBaudByte - 1 && MeterBaudCode(MeterBaudForCode(word)) < 0)
    return ExceptionReply(function, ExceptionCode::IllegalDataValue);  // a rate the meter cannot run at
  WriteRegister(target, word);
  return frame;  // the echo, byte for byte as received
}

void SimMeter::WriteRegister(uint16_t target, uint16_t value) {
  SetWord(target, value);
  // The switch at data bytes 4-5 frames the energy reset: clearing words are honoured only while
  // it is 1, so a stray write of 0 to them cannot wipe the counters.
  const bool resetArmed = Word(kResetSwitch) == 1;
  if (resetArmed && value == 0 && (target == kActiveClear || target == kReactiveClear)) {
    const int first = target == kActiveClear ? 0 : 2;
    for (int c = first; c < first + 2; ++c) {
      SetMeasurementWord(kEnergyWord + 2 * c, 0);
      SetMeasurementWord(kEnergyWord + 2 * c + 1, 0);
      energyFraction_[static_cast<size_t>(c)] = 0;
    }
  }
}

void SimMeter::AdvanceTo(uint64_t nowMs) {
  if (nowMs <= now_) return;
  if (frozen_) {
    now_ = nowMs;
    return;
  }
  // Integrate in steps of at most a second so long jumps still follow the wobble of the load.
  while (now_ < nowMs) {
    const uint64_t step = std::min<uint64_t>(1000, nowMs - now_);
    now_ += step;
    UpdateMeasurements();
    const double hours = static_cast<double>(step) / 3600000.0;
    const double scale = memory_[kPowerScaleByte] == 1 ? 4.0 : 1.0;
    const double p = static_cast<int16_t>(Word(2 * 28)) * scale / 10.0;
    const double q = static_cast<int16_t>(Word(2 * 30)) * scale / 10.0;
    AddEnergy(p >= 0 ? 0 : 1, std::abs(p) * hours);
    AddEnergy(q >= 0 ? 2 : 3, std::abs(q) * hours);
  }
}

void SimMeter::AddEnergy(int counter, double secondaryWh) {
  const int decade = std::min<int>(memory_[kDecadeByte], 9);
  double& fraction = energyFraction_[static_cast<size_t>(counter)];
  fraction += secondaryWh / std::pow(10.0, decade);
  const double whole = std::floor(fraction);
  if (whole < 1) return;
  fraction -= whole;
  const uint32_t count = Energy(counter) + static_cast<uint32_t>(whole);  // wraps like the meter's
  SetMeasurementWord(kEnergyWord + 2 * counter, static_cast<uint16_t>(count & 0xFFFF));
  SetMeasurementWord(kEnergyWord + 2 * counter + 1, static_cast<uint16_t>(count >> 16));
}

// Secondary-side raw values of a balanced-ish three-phase load that drifts slowly and jitters a little.
void SimMeter::UpdateMeasurements() {
  constexpr double kTwoPi = 2 * std::numbers::pi;
  const double t = static_cast<double>(now_) / 1000.0;
  const uint64_t tick = now_ / 100;
  const double phase0 = static_cast<double>(seed_ % 1000) / 1000.0 * kTwoPi;
  const double scale = memory_[kPowerScaleByte] == 1 ? 4.0 : 1.0;
  const double sign = memory_[kDirectionByte] == 1 ? -1.0 : 1.0;

  const double freq = 50.0 + 0.03 * std::sin(kTwoPi * t / 61.0 + phase0) + 0.002 * Noise(seed_, 99, tick);
  double v[3], i[3], p[3], q[3], s[3];
  for (int k = 0; k < 3; ++k) {
    const double off = phase0 + k * 2.1;
    v[k] = 220.0 * (1 + 0.01 * std::sin(kTwoPi * t / 37.0 + off)) + 0.05 * Noise(seed_, 10 + k, tick);
    i[k] = 4.0 + 0.9 * std::sin(kTwoPi * t / 53.0 + off) + 0.01 * Noise(seed_, 20 + k, tick);
    const double pf = 0.92 + 0.05 * std::sin(kTwoPi * t / 71.0 + off);
    s[k] = v[k] * i[k];
    p[k] = sign * s[k] * pf;
    q[k] = sign * s[k] * std::sqrt(1 - pf * pf);
  }
  // Line voltages of phases 120 degrees apart; group A shows C-A, B shows A-B, C shows B-C.
  auto line = [](double a, double b) { return std::sqrt(a * a + b * b + a * b); };
  const double ul[3] = {line(v[2], v[0]), line(v[0], v[1]), line(v[1], v[2])};

  auto put = [this](int word, uint16_t value) { SetMeasurementWord(word, value); };
  const uint16_t f = ClampU16(freq / 0.00106813);
  for (int k = 0; k < 3; ++k) {
    const int g = 8 * k;
    put(g + 0, ClampU16(v[k] * 100));
    put(g + 1, ClampU16(ul[k] * 100));
    put(g + 2, ClampU16(i[k] * 10000));
    put(g + 3, f);
    put(g + 4, ClampS16(p[k] * 10 / scale));
    put(g + 5, ClampS16(p[k] / s[k] * 10000));
    put(g + 6, ClampS16(q[k] * 10 / scale));
    put(g + 7, ClampU16(s[k] * 5));
  }
  const double pt = p[0] + p[1] + p[2], qt = q[0] + q[1] + q[2], st = s[0] + s[1] + s[2];
  put(24, ClampU16((v[0] + v[1] + v[2]) / 3 * 100));
  put(25, ClampU16((ul[0] + ul[1] + ul[2]) / 3 * 100));
  put(26, ClampU16((i[0] + i[1] + i[2]) / 3 * 10000));
  put(27, f);
  put(28, ClampS16(pt * 10 / scale));
  put(29, ClampS16(pt / st * 10000));
  put(30, ClampS16(qt * 10 / scale));
  put(31, ClampU16(st * 5));
  put(32, 0);
}

std::vector<uint8_t> SimMeter::Garbage(int count, uint8_t avoid) {
  std::vector<uint8_t> out;
  std::uniform_int_distribution<int> byte(0, 255);
  while (static_cast<int>(out.size()) < count) {
    const auto b = static_cast<uint8_t>(byte(rng_));
    if (b != avoid) out.push_back(b);  // never a false start of the real reply
  }
  return out;
}

std::vector<uint8_t> SimMeter::Corrupt(std::vector<uint8_t> reply, Fault fault) {
  switch (fault) {
    case Fault::Noise:
    case Fault::Flood: {
      std::vector<uint8_t> out = Garbage(fault == Fault::Noise ? kNoiseBytes : kFloodBytes, Address());
      out.insert(out.end(), reply.begin(), reply.end());
      return out;
    }
    case Fault::BadCrc:
      reply.back() ^= 0x5A;
      return reply;
    case Fault::WrongAddress:
      reply.resize(reply.size() - 2);
      reply[0] = static_cast<uint8_t>(Address() + 1);
      AppendCrc(reply);
      return reply;
    case Fault::Exception:
      return ExceptionReply(reply[1], ExceptionCode::DeviceFailure);
    case Fault::Truncated:
      reply.resize(reply.size() > 3 ? reply.size() - 3 : 1);
      return reply;
    case Fault::GatewayPath:
      return ExceptionReply(reply[1], ExceptionCode::GatewayPathUnavailable);
    case Fault::GatewayTarget:
      return ExceptionReply(reply[1], ExceptionCode::GatewayTargetFailed);
    case Fault::Close:
    case Fault::Stall:
      reply.resize(reply.size() / 2);
      return reply;
    default:
      return reply;
  }
}

}  // namespace qm::sim
