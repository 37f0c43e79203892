#pragma once
#include <memory>
#include <string>

#include "link/gateway.h"
#include "link/transport.h"

namespace qm::link {

// Opens whatever a port name says: tcp://HOST:PORT as a Modbus TCP gateway, rtuovertcp://HOST:PORT
// as a transparent one, anything else as a serial device through `serial`. Every other call goes to
// the transport that is open, so the window, the command line and the service use one path for all.
class NamedTransport : public Transport {
 public:
  static constexpr uint32_t kDefaultConnectTimeoutMs = 3000;

  NamedTransport(Transport& serial, Wording wording) : serial_(serial), wording_(wording) {}
  void SetConnectTimeout(uint32_t ms) { connectTimeoutMs_ = ms; }

  void Open(const std::string& name, const LineSettings& settings) override;
  void Close() override;
  bool IsOpen() const override { return active_ && active_->IsOpen(); }
  void Apply(const LineSettings& settings) override;
  void Write(const std::vector<uint8_t>& bytes) override;
  int BytesWaiting() override;
  std::vector<uint8_t> ReadAll() override;
  void DiscardInput() override;
  void WaitForInput(uint32_t ms) override;
  Notice TakeNotice() override;

  // The gateway the open transport talks to, when it is one.
  bool IsGateway() const { return active_ && active_ != &serial_; }

 private:
  Transport& serial_;
  Wording wording_;
  uint32_t connectTimeoutMs_ = kDefaultConnectTimeoutMs;
  std::unique_ptr<Transport> network_;
  Transport* active_ = nullptr;
};

}  // namespace qm::link
