#pragma once
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "link/parity.h"

namespace qm::link {

// Line parameters as the settings string carries them ("9600,N,8,1").
struct LineSettings {
  int32_t baud = 9600;
  Parity parity = Parity::None;
  int dataBits = 8;
  int stopBits = 1;
  bool operator==(const LineSettings&) const = default;
};

// Parses "baud,parity,data,stop"; false when the text is not such a string.
bool ParseLineSettings(const std::string& text, LineSettings& out);

// What a transport noticed about its input that the bytes it delivered do not show.
struct Notice {
  std::string text;  // empty when nothing
  // The peer speaks the other protocol (a gateway of the other kind): worth telling the user even
  // where a missing reply is not.
  bool otherKind = false;
};

// A refused serial port operation. what() names the device and the system's reason; the dialog layer
// shows it in an error box and abandons the handler that made the call.
class CommError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The one seam under every exchange: a serial port (QSerialPort in the window, the terminal interface
// on the command line), a gateway connection, or the simulated meter in tests. A transport is used
// from one thread at a time. A port or connection that goes away is reported once, by a CommError
// from the call that noticed; afterwards the transport counts as closed.
class Transport {
 public:
  virtual ~Transport() = default;
  // Throws CommError naming `path` and the reason when the port cannot be opened.
  virtual void Open(const std::string& path, const LineSettings& settings) = 0;
  virtual void Close() = 0;
  // False also after the device vanished while open (the failure is reported once, by the call
  // that noticed it).
  virtual bool IsOpen() const = 0;
  virtual void Apply(const LineSettings& settings) = 0;
  // Queues the bytes and makes sure they leave even if the caller then blocks.
  virtual void Write(const std::vector<uint8_t>& bytes) = 0;
  // Bytes received and not yet read.
  virtual int BytesWaiting() = 0;
  virtual std::vector<uint8_t> ReadAll() = 0;
  virtual void DiscardInput() = 0;
  // Returns as soon as something new has arrived (or the port has gone away), or after `ms`.
  virtual void WaitForInput(uint32_t ms) = 0;
  // What the transport noticed about the input since it was last asked that the bytes it delivered
  // do not show (a gateway of the other kind, a reply to another request); empty when nothing.
  virtual Notice TakeNotice() { return {}; }
};

}  // namespace qm::link
