#include "cli/meter_link.h"

#include "link/frame.h"
#include "link/link_settings.h"
#include "text/word_text.h"

namespace qm::cli {
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

void MeterLink::SetLine(int32_t baud, link::Parity parity) {
  options_.baud = baud;
  options_.parity = parity;
  device_.Apply(Line());
}

link::ExchangeResult MeterLink::Run(uint8_t address, uint8_t function, uint16_t reg, uint16_t word,
                                    ReplyWait wait) {
  const link::TimingSet timing = link::TimingForBaud(options_.baud);
  const link::LineSettings line = Line();
  const int bits = 1 + line.dataBits + (line.parity == link::Parity::None ? 0 : 1) + line.stopBits;
  const uint32_t standard = wait == ReplyWait::Long ? timing.longWait : timing.shortWait;
  link::Timing t = link::Timing::UntilReply(options_.timeoutMs.value_or(defaultTimeoutMs_.value_or(standard)),
                                            options_.retries, bits * 1000.0 / line.baud);
  t.echo = options_.echo;
  t.trace = options_.trace;
  link::ExchangeResult r;
  try {
    if (!device_.IsOpen() && !options_.reopen.empty()) device_.Open(options_.reopen, line);
    r = link::Exchange(device_, clock_, {address, function, reg, word}, t);
  } catch (const link::CommError& e) {
    r = link::ExchangeResult{};
    r.error = link::LinkError::Lost;
    r.detail = e.what();
  }
  // An adapter that echoes shows it on the first read: its reply still comes after the echo, but the
  // reply to a write is the same eight bytes as the echo, so later writes must drop it to be judged.
  if (!options_.echo && r.echoed && function == link::kFnReadHolding) {
    options_.echo = true;
    if (options_.notes)
      std::fprintf(options_.notes,
                   "qm7410-cli: the line echoes what it sends (a 2-wire adapter without echo suppression); "
                   "treating it as --echo from now on\n");
  }
  if (options_.verbose) {
    link::RequestFrame request;
    link::BuildRequest(request, address, function, reg, word);
    std::fprintf(options_.verbose, "qm7410-cli: %s -> %s (%llu ms, %d attempt%s)\n",
                 text::HexBytes(request).c_str(),
                 r.frame.empty() ? link::DescribeFailure(r).c_str() : text::HexBytes(r.frame).c_str(),
                 static_cast<unsigned long long>(r.elapsedMs), r.attempts, r.attempts == 1 ? "" : "s");
  }
  return r;
}

}  // namespace qm::cli
