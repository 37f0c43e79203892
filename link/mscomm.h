#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "link/transport.h"

namespace qm::link {

// Device path of serial port number n: COMn on Windows; elsewhere $QM7410_COM<n> when set, else
// /dev/ttyS<n-1>.
std::string DevicePathForPort(int32_t port);
// Whether the line of port n hands back what it sends ($QM7410_ECHO<n>=1: a 2-wire RS-485 adapter
// without echo suppression); the exchanges then drop the echo of every request.
bool EchoForPort(int32_t port);

// The serial port control: the seven properties the program uses, over a Transport.
class CMSComm {
 public:
  explicit CMSComm(Transport* device = nullptr) : device_(device) {}
  void Attach(Transport* device) { device_ = device; }
  Transport* Device() const { return device_; }

  void SetCommPort(int16_t port);  // only while closed
  int16_t GetCommPort() const { return port_; }
  void SetSettings(const std::string& settings);  // applies at once to an open port
  std::string GetSettings() const { return settings_; }
  void SetPortOpen(bool open);
  bool GetPortOpen() const;
  void SetInputLen(int16_t length) { inputLen_ = length; }
  int16_t GetInputLen() const { return inputLen_; }
  void SetInBufferCount(int16_t count);  // 0 discards what is waiting
  int16_t GetInBufferCount();
  void SetOutput(const std::vector<uint8_t>& bytes);
  std::vector<uint8_t> GetInput();  // removes and returns what is waiting (up to InputLen when set)

  std::string DevicePath() const { return DevicePathForPort(port_); }

 private:
  Transport& device() const;

  Transport* device_;
  int16_t port_ = 1;
  std::string settings_ = "9600,N,8,1";
  LineSettings line_{};
  int16_t inputLen_ = 0;
  std::vector<uint8_t> pending_;  // read from the device but beyond InputLen
};

}  // namespace qm::link
