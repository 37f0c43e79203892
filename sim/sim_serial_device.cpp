#include "sim/sim_serial_device.h"

#include <algorithm>
#include <cmath>

#include "sim/uart.h"

namespace qm::sim {

double SimSerialDevice::TransmitMs(size_t bytes, const link::LineSettings& line) {
  const int bits = 1 + line.dataBits + (line.parity == link::Parity::None ? 0 : 1) + line.stopBits;
  return static_cast<double>(bytes) * bits * 1000.0 / std::max(line.baud, 1);
}

void SimSerialDevice::ThrowIfUnplugged() {
  if (!unplugged_) return;
  unplugged_ = false;
  open_ = false;
  received_.clear();
  throw link::CommError("串口 " + path_ + " 已断开: 设备已拔出");
}

void SimSerialDevice::Open(const std::string& path, const link::LineSettings& settings) {
  if (unplugged_) {
    unplugged_ = false;
    open_ = false;
    throw link::CommError("无法打开串口 " + path + ": 设备已拔出");
  }
  if (auto it = openFailures_.find(path); it != openFailures_.end())
    throw link::CommError("无法打开串口 " + path + ": " + it->second);
  Deliver();
  path_ = path;
  line_ = settings;
  open_ = true;
  received_.clear();
  ++openCount_;
}

void SimSerialDevice::Close() {
  Deliver();
  open_ = false;
  received_.clear();
}

void SimSerialDevice::Apply(const link::LineSettings& settings) {
  ThrowIfUnplugged();
  Deliver();
  line_ = settings;
}

void SimSerialDevice::Write(const std::vector<uint8_t>& bytes) {
  ThrowIfUnplugged();
  Deliver();
  if (!open_ || bytes.empty()) return;
  const double now = static_cast<double>(clock_.NowMs());
  log_.push_back({clock_.NowMs(), bytes, line_});
  const double start = std::max(now, lineFreeAt_);
  lineFreeAt_ = start + TransmitMs(bytes.size(), line_);
  inFlight_.push_back({lineFreeAt_, bytes, line_, true});
  if (echo_) inFlight_.push_back({lineFreeAt_, bytes, line_, false});
}

void SimSerialDevice::Inject(const std::vector<uint8_t>& bytes) {
  Deliver();
  if (open_) received_.insert(received_.end(), bytes.begin(), bytes.end());
}

int SimSerialDevice::BytesWaiting() {
  ThrowIfUnplugged();
  Deliver();
  return open_ ? static_cast<int>(received_.size()) : 0;
}

std::vector<uint8_t> SimSerialDevice::ReadAll() {
  ThrowIfUnplugged();
  Deliver();
  std::vector<uint8_t> out;
  out.swap(received_);
  return out;
}

void SimSerialDevice::DiscardInput() {
  ThrowIfUnplugged();
  Deliver();
  received_.clear();
}

void SimSerialDevice::WaitForInput(uint32_t ms) {
  for (uint32_t waited = 0; waited < ms && BytesWaiting() == 0; ++waited) clock_.Advance(1);
}

// Everything whose last byte has arrived by now reaches its receiver, in order of arrival: requests
// reach the meter (which may put a reply on the line), replies reach the receive buffer.
void SimSerialDevice::Deliver() {
  const double now = static_cast<double>(clock_.NowMs());
  for (;;) {
    auto next =
        std::min_element(inFlight_.begin(), inFlight_.end(),
                         [](const InFlight& a, const InFlight& b) { return a.arrivesAt < b.arrivesAt; });
    if (next == inFlight_.end() || next->arrivesAt > now) break;
    InFlight item = std::move(*next);
    inFlight_.erase(next);
    if (item.toMeter) {
      // The meter's UART decodes the request at its own speed and parity: on a mismatched line it
      // hears other bytes, and normally stays silent.
      const link::LineSettings own{meter_.Baud(), meter_.Parity(), 8, 1};
      meter_.AdvanceTo(static_cast<uint64_t>(std::ceil(item.arrivesAt)));
      SimMeter::Reply reply = meter_.Handle(UartGarble(item.bytes, item.line, own), own);
      if (reply.bytes.empty()) continue;
      const double at = item.arrivesAt + reply.delayMs + TransmitMs(reply.bytes.size(), own);
      inFlight_.push_back({at, std::move(reply.bytes), own, false});
    } else if (open_) {
      // The port's UART decodes the reply at the port's settings.
      const std::vector<uint8_t> bytes = UartGarble(item.bytes, item.line, line_);
      received_.insert(received_.end(), bytes.begin(), bytes.end());
    }
  }
  meter_.AdvanceTo(clock_.NowMs());
}

}  // namespace qm::sim
