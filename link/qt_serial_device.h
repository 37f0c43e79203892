#pragma once
#include <QElapsedTimer>
#include <QSerialPort>

#include "link/port_errors.h"
#include "link/transport.h"

namespace qm::link {

// Tells what is wrong with `path` after QSerialPort refused to open it with `error`; `group` receives
// the group owning the device (empty when unknown).
OpenFault DiagnoseOpenFailure(const std::string& path, QSerialPort::SerialPortError error,
                              std::string& group);

// The program's serial port: QSerialPort driven from the UI thread with blocking waits in between.
class QtSerialDevice : public Transport {
 public:
  // Received bytes kept between two reads. Far more than any exchange needs (a reply has at most 87
  // bytes and the receive buffer holds 400); beyond it the line waits, so a far side that floods
  // cannot make the program read without end or grow its memory.
  static constexpr qint64 kReadBufferBytes = 4096;

  QtSerialDevice();
  void Open(const std::string& path, const LineSettings& settings) override;
  void Close() override;
  bool IsOpen() const override;
  void Apply(const LineSettings& settings) override;
  void Write(const std::vector<uint8_t>& bytes) override;
  int BytesWaiting() override;
  std::vector<uint8_t> ReadAll() override;
  void DiscardInput() override;
  // Returns as soon as new bytes have arrived, or after `ms` milliseconds.
  void WaitForInput(uint32_t ms) override;

 private:
  void Configure(const LineSettings& settings);
  void Pump();
  void ThrowIfLost();
  bool HungUp();
  void CheckHangUp();

  QSerialPort port_;
  std::string path_;
  // Set when the port was found gone between two calls (it is closed already); the next call reports
  // it, so the loss is told once and by a call, like every other failure.
  std::string lost_;
};

}  // namespace qm::link
