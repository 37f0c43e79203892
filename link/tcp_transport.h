#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "link/gateway.h"
#include "link/transport.h"

namespace qm::link {

// A serial-to-Ethernet gateway over a TCP connection, as a transport: RTU frames pass through as
// they are over RTU over TCP; over Modbus TCP each request goes out with an MBAP header and each
// reply comes back as the RTU frame a meter would have sent. Waits are poll(2) on the socket, so the
// window's fixed waits and the command line's early-ending ones work unchanged.
class TcpTransport : public Transport {
 public:
  // Bytes kept between two reads; beyond it the connection waits (a flooding peer cannot grow
  // memory).
  static constexpr size_t kReadBufferBytes = 4096;

  TcpTransport(GatewayKind kind, Wording wording, uint32_t connectTimeoutMs)
      : kind_(kind), wording_(wording), connectTimeoutMs_(connectTimeoutMs), reader_(wording) {}
  ~TcpTransport() override { Close(); }
  // `name` is the gateway's address (tcp://HOST:PORT or rtuovertcp://HOST:PORT); the line settings
  // are the gateway's business.
  void Open(const std::string& name, const LineSettings& settings) override;
  void Close() override;
  bool IsOpen() const override { return fd_ >= 0; }
  void Apply(const LineSettings&) override {}
  void Write(const std::vector<uint8_t>& bytes) override;
  int BytesWaiting() override;
  std::vector<uint8_t> ReadAll() override;
  void DiscardInput() override;
  void WaitForInput(uint32_t ms) override;
  Notice TakeNotice() override;

 private:
  void Fill();
  void Take(const uint8_t* bytes, size_t size);
  [[noreturn]] void Lose(const std::string& reason);

  GatewayKind kind_;
  Wording wording_;
  uint32_t connectTimeoutMs_;
  GatewayAddress address_;
  int fd_ = -1;
  std::vector<uint8_t> buffer_;
  MbapReader reader_;
  uint16_t transaction_ = 0;
  // RTU over TCP: the last request and the first bytes back, to recognise a Modbus TCP gateway.
  std::vector<uint8_t> request_;
  std::vector<uint8_t> firstBack_;
  Notice notice_;
};

}  // namespace qm::link
