#include "link/named_transport.h"

#ifndef _WIN32
#include "link/tcp_transport.h"
#endif

namespace qm::link {

void NamedTransport::Open(const std::string& name, const LineSettings& settings) {
  Close();
  GatewayAddress gateway;
  std::string error;
  if (!ParseGatewayAddress(name, gateway, error, wording_)) {
    if (!error.empty()) throw CommError(error);
    serial_.Open(name, settings);
    active_ = &serial_;
    return;
  }
#ifdef _WIN32
  throw CommError(name + (wording_ == Wording::English ? ": gateways are not supported on this system"
                                                       : ": 本系统不支持网关"));
#else
  auto network = std::make_unique<TcpTransport>(gateway.kind, wording_, connectTimeoutMs_);
  network->Open(name, settings);
  network_ = std::move(network);
  active_ = network_.get();
#endif
}

void NamedTransport::Close() {
  if (active_) active_->Close();
  active_ = nullptr;
  network_.reset();
}

void NamedTransport::Apply(const LineSettings& settings) {
  if (active_) active_->Apply(settings);
}

void NamedTransport::Write(const std::vector<uint8_t>& bytes) {
  if (active_) active_->Write(bytes);
}

int NamedTransport::BytesWaiting() { return active_ ? active_->BytesWaiting() : 0; }

std::vector<uint8_t> NamedTransport::ReadAll() {
  return active_ ? active_->ReadAll() : std::vector<uint8_t>{};
}

void NamedTransport::DiscardInput() {
  if (active_) active_->DiscardInput();
}

void NamedTransport::WaitForInput(uint32_t ms) {
  if (active_) active_->WaitForInput(ms);
}

Notice NamedTransport::TakeNotice() { return active_ ? active_->TakeNotice() : Notice{}; }

}  // namespace qm::link
