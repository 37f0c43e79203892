#pragma once
#include <map>
#include <string>
#include <vector>

#include "link/transport.h"
#include "sim/sim_meter.h"
#include "sim/virtual_clock.h"

namespace qm::sim {

// A serial port wired to an in-process SimMeter on virtual time. Bytes take their transmission time
// at the line's speed: a reply is waiting only once the clock has passed its arrival.
class SimSerialDevice : public link::Transport {
 public:
  SimSerialDevice(SimMeter& meter, VirtualClock& clock) : meter_(meter), clock_(clock) {}

  void Open(const std::string& path, const link::LineSettings& settings) override;
  void Close() override;
  bool IsOpen() const override { return open_; }
  void Apply(const link::LineSettings& settings) override;
  void Write(const std::vector<uint8_t>& bytes) override;
  int BytesWaiting() override;
  std::vector<uint8_t> ReadAll() override;
  void DiscardInput() override;
  // Moves the virtual clock a millisecond at a time until something is waiting.
  void WaitForInput(uint32_t ms) override;

  // What crossed the wire from the program, with the virtual time it was written and the line then.
  struct Sent {
    uint64_t atMs;
    std::vector<uint8_t> bytes;
    link::LineSettings line;
  };
  const std::vector<Sent>& Log() const { return log_; }
  void ClearLog() { log_.clear(); }

  // Opening `path` fails with `reason` (no such device, busy, ...).
  void FailOpen(const std::string& path, const std::string& reason) { openFailures_[path] = reason; }
  // The adapter disappears: the next operation reports it once, then the port counts as closed.
  void Unplug() { unplugged_ = true; }
  // Unsolicited bytes that arrive now.
  void Inject(const std::vector<uint8_t>& bytes);
  // The line hands every byte the PC sends back to it, as a 2-wire adapter without echo suppression.
  void SetEcho(bool on) { echo_ = on; }

  const std::string& Path() const { return path_; }
  const link::LineSettings& Line() const { return line_; }
  int OpenCount() const { return openCount_; }
  // Transmission time of `bytes` characters on `line` (start bit, data bits, parity, stop bits).
  static double TransmitMs(size_t bytes, const link::LineSettings& line);

 private:
  void Deliver();
  void ThrowIfUnplugged();

  SimMeter& meter_;
  VirtualClock& clock_;
  bool open_ = false;
  bool unplugged_ = false;
  bool echo_ = false;
  std::string path_;
  link::LineSettings line_{};
  std::map<std::string, std::string> openFailures_;
  struct InFlight {
    double arrivesAt;  // when the last byte has arrived
    std::vector<uint8_t> bytes;
    link::LineSettings line;  // the settings the bytes were sent with
    bool toMeter;
  };
  std::vector<InFlight> inFlight_;
  double lineFreeAt_ = 0;  // the PC's transmitter is busy until then
  std::vector<uint8_t> received_;
  std::vector<Sent> log_;
  int openCount_ = 0;
};

}  // namespace qm::sim
