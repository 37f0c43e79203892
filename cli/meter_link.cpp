#include "cli/meter_link.h"

#include "link/frame.h"
#include "link/link_settings.h"

namespace qm::cli {
namespace {

std::string Hex(const std::vector<uint8_t>& bytes) {
  static const char* const kDigits = "0123456789ABCDEF";
  std::string out;
  for (uint8_t b : bytes) {
    if (!out.empty()) out += ' ';
    out += kDigits[b >> 4];
    out += kDigits[b & 0x0F];
  }
  return out;
}

}  // namespace

link::ExchangeResult MeterLink::Read(uint8_t address, uint16_t reg, uint16_t quantity, ReplyWait wait) {
  return Run(address, link::kFnReadHolding, reg, quantity, wait);
}

link::ExchangeResult MeterLink::Write(uint8_t address, uint16_t reg, uint16_t value) {
  return Run(address, link::kFnWriteSingle, reg, value, ReplyWait::Short);
}

void MeterLink::SetBaud(int32_t baud) {
  options_.baud = baud;
  device_.Apply(Line());
}

link::ExchangeResult MeterLink::Run(uint8_t address, uint8_t function, uint16_t reg, uint16_t word,
                                       ReplyWait wait) {
  const link::TimingSet timing = link::TimingForBaud(options_.baud);
  const link::LineSettings line = Line();
  const int bits = 1 + line.dataBits + (line.parity == 'N' ? 0 : 1) + line.stopBits;
  const link::Timing t = link::Timing::UntilReply(
      options_.timeoutMs.value_or(wait == ReplyWait::Long ? timing.longWait : timing.shortWait),
      options_.retries, bits * 1000.0 / line.baud);
  link::ExchangeResult r;
  try {
    if (!device_.IsOpen() && !options_.reopen.empty()) device_.Open(options_.reopen, line);
    r = link::Exchange(device_, clock_, {address, function, reg, word}, t);
  } catch (const link::CommError& e) {
    r = link::ExchangeResult{};
    r.error = link::LinkError::Lost;
    r.detail = e.what();
  }
  if (options_.verbose) {
    link::RequestFrame request;
    link::BuildRequest(request, address, function, reg, word);
    std::fprintf(options_.verbose, "qm7410-cli: %s -> %s (%llu ms, %d attempt%s)\n",
                 Hex(std::vector<uint8_t>(request.begin(), request.end())).c_str(),
                 r.frame.empty() ? link::DescribeFailure(r).c_str() : Hex(r.frame).c_str(),
                 static_cast<unsigned long long>(r.elapsedMs), r.attempts, r.attempts == 1 ? "" : "s");
  }
  return r;
}

}  // namespace qm::cli
