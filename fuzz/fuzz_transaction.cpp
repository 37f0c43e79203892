// The command line's exchange, which ends as soon as the reply is complete: whatever bytes arrive, in
// whatever pieces and at whatever moments, through the gathering reply search, its retries and its
// failure texts.
//
// Input: a 4-byte header, then pieces of [length][delay][bytes] that arrive `delay` milliseconds
// after the piece before (the first after the request).
//   0     request: bit 0 read (0x03) or write (0x06); bits 1-7 the quantity of a read (0 means 1)
//   1     slave address
//   2     bits 0-1: further attempts; bit 2: the line's character time is known (9600 baud)
//   3     timeout per attempt, in units of 10 ms (0 means 10 ms)
#include <algorithm>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "link/exchange.h"

namespace {

struct Piece {
  double at;  // arrival, in milliseconds of virtual time
  std::vector<uint8_t> bytes;
};

// The line on virtual time: a piece is waiting once the clock has passed its arrival.
class Line : public qm::link::Transport, public qm::link::Clock {
 public:
  explicit Line(std::vector<Piece> pieces) : pieces_(std::move(pieces)) {}
  void Open(const std::string&, const qm::link::LineSettings&) override {}
  void Close() override {}
  bool IsOpen() const override { return true; }
  void Apply(const qm::link::LineSettings&) override {}
  void Write(const std::vector<uint8_t>& bytes) override {
    ++writes;
    FUZZ_CHECK(bytes.size() == 8 && fuzz::CrcOk(bytes.data(), 8), "a request of %zu bytes", bytes.size());
    if (writes == 1) {
      // The pieces arrive after the first request; their times count from it.
      for (Piece& p : pieces_) p.at += now_;
    }
  }
  int BytesWaiting() override { return static_cast<int>(Due().size()); }
  std::vector<uint8_t> ReadAll() override {
    std::vector<uint8_t> out = Due();
    next_ = Arrived();
    readSinceDiscard.insert(readSinceDiscard.end(), out.begin(), out.end());
    return out;
  }
  void DiscardInput() override {
    next_ = Arrived();
    readSinceDiscard.clear();
  }

  void WaitForInput(uint32_t ms) override {
    const double until = now_ + ms;
    now_ = next_ < pieces_.size() ? std::min(until, std::max(now_, pieces_[next_].at)) : until;
  }
  void Sleep(uint32_t ms) override { now_ += ms; }
  void Pause(uint32_t us) override { now_ += us / 1000.0; }
  uint64_t NowMs() const override { return static_cast<uint64_t>(now_); }

  int writes = 0;
  std::vector<uint8_t> readSinceDiscard;

 private:
  size_t Arrived() const {
    size_t n = next_;
    while (n < pieces_.size() && pieces_[n].at <= now_ && writes > 0) ++n;
    return n;
  }
  std::vector<uint8_t> Due() const {
    std::vector<uint8_t> out;
    for (size_t i = next_; i < Arrived(); ++i)
      out.insert(out.end(), pieces_[i].bytes.begin(), pieces_[i].bytes.end());
    return out;
  }

  std::vector<Piece> pieces_;
  size_t next_ = 0;
  double now_ = 0;
};

bool Contains(const std::vector<uint8_t>& hay, const std::vector<uint8_t>& needle) {
  return std::search(hay.begin(), hay.end(), needle.begin(), needle.end()) != hay.end();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const bool read = (data[0] & 1) == 0;
  const uint8_t function = read ? 0x03 : 0x06;
  const uint16_t quantity = std::max(1, data[0] >> 1);
  const uint16_t word = read ? quantity : 0x1234;
  const uint8_t address = data[1];
  const qm::link::Timing options = qm::link::Timing::UntilReply(
      10u * std::max<uint32_t>(1, data[3]), data[2] & 3, (data[2] & 4) ? 10 * 1000.0 / 9600 : 0);

  std::vector<Piece> pieces;
  double at = 0;
  for (size_t i = 4; i + 2 <= size;) {
    const size_t length = std::min<size_t>(data[i], size - i - 2);
    at += data[i + 1];
    pieces.push_back({at, std::vector<uint8_t>(data + i + 2, data + i + 2 + length)});
    i += 2 + length;
  }

  Line line(std::move(pieces));
  line.Open("/dev/fuzz", {});
  const qm::link::ExchangeResult r =
      qm::link::Exchange(line, line, {address, function, 0x0300, word}, options);

  FUZZ_CHECK(r.attempts >= 1 && r.attempts <= 1 + options.retries && line.writes == r.attempts);
  FUZZ_CHECK(static_cast<size_t>(r.received) == line.readSinceDiscard.size(), "received %d, read %zu",
             r.received, line.readSinceDiscard.size());
  FUZZ_CHECK(!qm::link::DescribeFailure(r).empty());
  const size_t length = read ? 5 + 2 * static_cast<size_t>(quantity) : 8;
  switch (r.error) {
    case qm::link::LinkError::None: {
      // A whole reply with its CRC, as it arrived in the last attempt; its data inside it.
      FUZZ_CHECK(r.frame.size() == length && r.frame[0] == address && r.frame[1] == function);
      FUZZ_CHECK(fuzz::CrcOk(r.frame.data(), r.frame.size()) && Contains(line.readSinceDiscard, r.frame));
      const auto d = r.Data();
      FUZZ_CHECK(d.size() == (read ? 2 * static_cast<size_t>(quantity) : 4u));
      FUZZ_CHECK(d.data() >= r.frame.data() && d.data() + d.size() <= r.frame.data() + r.frame.size() - 2);
      break;
    }
    case qm::link::LinkError::Exception:
      FUZZ_CHECK(r.frame.size() == 5 && r.frame[0] == address && r.frame[1] == (function | 0x80));
      FUZZ_CHECK(fuzz::CrcOk(r.frame.data(), 5) && r.exceptionCode == r.frame[2] &&
                 Contains(line.readSinceDiscard, r.frame));
      FUZZ_CHECK(r.Data().empty());
      break;
    case qm::link::LinkError::NoReply:
      FUZZ_CHECK(r.received == 0 && r.Data().empty());
      break;
    case qm::link::LinkError::BadReply:
      FUZZ_CHECK(r.received > 0 && r.Data().empty() && r.frame.empty());
      break;
    case qm::link::LinkError::OtherReply:
      // A valid frame that came, but not for this request.
      FUZZ_CHECK(r.received > 0 && r.Data().empty() && fuzz::CrcOk(r.frame.data(), r.frame.size()) &&
                 Contains(line.readSinceDiscard, r.frame));
      FUZZ_CHECK(!(r.frame[0] == address && (r.frame[1] == function || r.frame[1] == (function | 0x80))) ||
                 r.frame.size() != (r.frame[1] & 0x80 ? 5u : length));
      break;
    case qm::link::LinkError::Lost:
      FUZZ_CHECK(false, "the line never goes away");
      break;
  }
  return 0;
}
