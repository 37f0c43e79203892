#pragma once
#include <termios.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "link/transport.h"

namespace qm::link {

// The terminal interface's code for a rate in bits per second, and the rate of a code; nothing (0)
// for a rate without one.
std::optional<speed_t> TermiosSpeed(int32_t baud);
int32_t BaudOfTermiosSpeed(speed_t speed);

// A serial port straight on the terminal interface, for programs that start often and want no event
// loop (the command line): raw 8-bit bytes, the given parity and speed, no flow control, held
// exclusively. Waits are poll(2) on the descriptor.
class PosixSerialDevice : public Transport {
 public:
  // Received bytes kept between two reads; beyond it the line waits, so a far side that floods
  // cannot make the program read without end or grow its memory.
  static constexpr size_t kReadBufferBytes = 4096;

  ~PosixSerialDevice() override { Close(); }
  void Open(const std::string& path, const LineSettings& settings) override;
  void Close() override;
  bool IsOpen() const override { return fd_ >= 0; }
  void Apply(const LineSettings& settings) override;
  void Write(const std::vector<uint8_t>& bytes) override;
  int BytesWaiting() override;
  std::vector<uint8_t> ReadAll() override;
  void DiscardInput() override;
  // Returns as soon as the port has input (or has gone away), or after `ms` milliseconds.
  void WaitForInput(uint32_t ms) override;

 private:
  void Configure(const LineSettings& settings);
  void Fill();
  [[noreturn]] void Lose(const std::string& reason);

  int fd_ = -1;
  std::string path_;
  termios original_{};
  std::vector<uint8_t> buffer_;
};

}  // namespace qm::link
