#pragma once
#include <QSerialPort>

#include "link/serial_device.h"

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

 private:
  void Configure(const LineSettings& settings);
  void Pump();
  void ThrowIfLost();

  QSerialPort port_;
  std::string path_;
};

}  // namespace qm::link
