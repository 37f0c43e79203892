#pragma once
#include <QElapsedTimer>
#include <QSerialPort>

#include "link/serial_device.h"
#include "link/transaction.h"

namespace qm::link {

// The program's serial port: QSerialPort driven from the UI thread with blocking waits in between.
class QtSerialDevice : public SerialDevice {
 public:
  void Open(const std::string& path, const LineSettings& settings) override;
  void Close() override;
  bool IsOpen() const override;
  void Apply(const LineSettings& settings) override;
  void Write(const std::vector<uint8_t>& bytes) override;
  int BytesWaiting() override;
  std::vector<uint8_t> ReadAll() override;
  void DiscardInput() override;
  // Returns as soon as new bytes have arrived, or after `ms` milliseconds.
  void WaitForInput(uint32_t ms);

 private:
  void Configure(const LineSettings& settings);
  void Pump();
  void ThrowIfLost();

  QSerialPort port_;
  std::string path_;
};

// The command-line exchanges' wait: ends as soon as the port has new input.
class QtInputWait : public InputWait {
 public:
  explicit QtInputWait(QtSerialDevice& device) : device_(device) { started_.start(); }
  void WaitForInput(uint32_t ms) override { device_.WaitForInput(ms); }
  uint64_t NowMs() const override { return static_cast<uint64_t>(started_.elapsed()); }

 private:
  QtSerialDevice& device_;
  QElapsedTimer started_;
};

}  // namespace qm::link
