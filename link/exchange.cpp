#include "link/exchange.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "link/find_response.h"
#include "link/modbus.h"
#include "link/trace.h"

namespace qm::link {
namespace {

constexpr int kExceptionLength = 5;  // address, function | 0x80, code, CRC
// A sender's clock may run up to a few percent fast; a pause for the rest of a reply is cut short by
// this much so it never ends after the reply.
constexpr double kLineRateMargin = 0.95;
// Bytes are searched in pieces of at most this size, so a flood of any length stays within the
// search's 16-bit lengths.
constexpr size_t kPiece = 1024;

// Searches what has come back so far for the reply, an exception reply, or another valid frame.
class ReplySearch {
 public:
  ReplySearch(const Request& r, const std::vector<uint8_t>& request)
      : address_(r.address),
        function_(r.function),
        length_(ExpectedReplyLength(r.function, r.word)),
        request_(request) {}

  // True once the reply or an exception reply is complete (result.error and frame say which).
  bool Search(const uint8_t* b, size_t n, ExchangeResult& result) {
    const auto count = static_cast<int16_t>(n);
    if (const int16_t i = FindResponse(b, count, function_, address_, static_cast<int16_t>(length_));
        i >= 0) {
      result.error = LinkError::None;
      result.index = i;
      result.skipped = static_cast<int>(dropped_) + i;
      result.frame.assign(b + i, b + i + length_);
      return true;
    }
    const auto exceptionFn = static_cast<uint8_t>(function_ | kExceptionBit);
    if (const int16_t e = FindResponse(b, count, exceptionFn, address_, kExceptionLength); e >= 0) {
      result.error = LinkError::Exception;
      result.exceptionCode = b[e + 2];
      result.skipped = static_cast<int>(dropped_) + e;
      result.frame.assign(b + e, b + e + kExceptionLength);
      return true;
    }
    // A valid frame that is not the request's own echo: someone else's request or reply.
    for (size_t at = 0; other_.empty() && at < n;) {
      const std::span<const uint8_t> frame = FindAnyFrame({b + at, n - at});
      if (frame.empty()) break;
      if (!std::equal(frame.begin(), frame.end(), request_.begin(), request_.end()))
        other_.assign(frame.begin(), frame.end());
      at = static_cast<size_t>(frame.data() - b) + 1;
    }
    return false;
  }

  // Adds bytes that came in and searches everything that may still hold a frame.
  bool Add(const std::vector<uint8_t>& bytes, ExchangeResult& result) {
    for (size_t at = 0; at < bytes.size(); at += kPiece) {
      const auto first = bytes.begin() + static_cast<std::ptrdiff_t>(at);
      buffer_.insert(buffer_.end(), first,
                     first + static_cast<std::ptrdiff_t>(std::min(kPiece, bytes.size() - at)));
      if (Search(buffer_.data(), buffer_.size(), result)) return true;
      // Every frame that could start before the tail has been tried already.
      const size_t keep = static_cast<size_t>(std::max(length_, kExceptionLength) - 1);
      if (buffer_.size() > keep) {
        dropped_ += buffer_.size() - keep;
        buffer_.erase(buffer_.begin(), buffer_.end() - static_cast<std::ptrdiff_t>(keep));
      }
    }
    return false;
  }

  // The search found nothing: what that was.
  void Fail(ExchangeResult& result) const {
    result.index = -1;
    if (!other_.empty()) {
      result.error = LinkError::OtherReply;
      result.frame = other_;
    } else {
      result.error = result.received ? LinkError::BadReply : LinkError::NoReply;
    }
  }

 private:
  uint8_t address_;
  uint8_t function_;
  int length_;
  const std::vector<uint8_t>& request_;
  std::vector<uint8_t> buffer_;
  size_t dropped_ = 0;  // bytes searched and let go before the buffer
  std::vector<uint8_t> other_;
};

// Watches the first bytes that come back for the request's own: a 2-wire adapter without echo
// suppression hands back every byte it sends. Bytes that only begin like the request (a read reply
// starts with the same address and function) are given back once they differ.
class EchoWatch {
 public:
  EchoWatch(const std::vector<uint8_t>& request, bool drop) : request_(request), drop_(drop) {}
  // What of `in` the reply search gets.
  std::vector<uint8_t> Take(const std::vector<uint8_t>& in) {
    std::vector<uint8_t> out;
    for (const uint8_t b : in) {
      if (!over_ && b == request_[matched_]) {
        held_.push_back(b);
        if (++matched_ < request_.size()) continue;
        over_ = true;  // the whole request came back
        if (!drop_) out.insert(out.end(), held_.begin(), held_.end());
        held_.clear();
        continue;
      }
      if (matched_ == request_.size()) ++after_;
      over_ = true;
      out.insert(out.end(), held_.begin(), held_.end());
      held_.clear();
      out.push_back(b);
    }
    return out;
  }
  // What may still be an echo once nothing more comes.
  std::vector<uint8_t> Rest() {
    std::vector<uint8_t> out;
    out.swap(held_);
    return out;
  }
  // A write's reply is its request byte for byte: one copy alone is an echo only when the line is
  // known to echo.
  bool Echoed() const {
    return matched_ == request_.size() && (drop_ || request_[1] != kFnWriteSingle || after_ > 0);
  }

 private:
  const std::vector<uint8_t>& request_;
  bool drop_;
  size_t matched_ = 0;
  size_t after_ = 0;  // bytes after a whole copy of the request
  bool over_ = false;
  std::vector<uint8_t> held_;
};

// Drops pending input and sends the request; nothing is sent on a closed transport.
void Send(Transport& transport, const std::vector<uint8_t>& bytes, Clock& clock, Trace* trace,
          const Request& request) {
  if (!transport.IsOpen()) return;
  transport.DiscardInput();  // stale bytes, a late reply among them, are never examined
  if (trace) trace->Sent(clock.NowMs(), request, bytes);
  transport.Write(bytes);
}

// The window's way: one wait, whatever arrives meanwhile, then one look at what came.
void FixedWait(Transport& transport, Clock& clock, const Request& request, const Timing& timing,
               const WindowBuffers& buffers, const std::vector<uint8_t>& bytes, ExchangeResult& result) {
  Send(transport, bytes, clock, timing.trace, request);
  clock.Sleep(timing.waitMs);
  result.attempts = 1;
  if (timing.reply == ReplyMode::None) return;
  const bool open = transport.IsOpen();
  const int waiting = open ? transport.BytesWaiting() : 0;
  std::vector<uint8_t> got = open ? transport.ReadAll() : std::vector<uint8_t>{};
  got.resize(std::min(got.size(), static_cast<size_t>(std::clamp(waiting, 0, 32767))));
  if (timing.trace && !got.empty()) timing.trace->Input(clock.NowMs(), got);
  EchoWatch echo(bytes, timing.echo);
  got = echo.Take(got);
  const std::vector<uint8_t> rest = echo.Rest();
  got.insert(got.end(), rest.begin(), rest.end());
  result.echoed = echo.Echoed();
  result.received =
      CopyReceived(got, static_cast<int16_t>(std::min<size_t>(got.size(), 32767)), buffers.receive);
  if (timing.reply != ReplyMode::Check) return;
  ReplySearch search(request, bytes);
  if (!search.Search(buffers.receive.data(), static_cast<size_t>(result.received), result))
    search.Fail(result);
}

// The command line's way: the reply is taken the moment it is complete.
void UntilReply(Transport& transport, Clock& clock, const Request& request, const Timing& timing,
                const std::vector<uint8_t>& bytes, ExchangeResult& result) {
  const int length = ExpectedReplyLength(request.function, request.word);
  const int attempts = 1 + std::max(timing.retries, 0);
  for (int attempt = 1; attempt <= attempts; ++attempt) {
    if (attempt > 1 && timing.trace) timing.trace->Outcome(clock.NowMs(), result, timing.waitMs);
    result = ExchangeResult{};
    result.attempts = attempt;
    Send(transport, bytes, clock, timing.trace, request);
    const uint64_t deadline = clock.NowMs() + timing.waitMs;
    ReplySearch search(request, bytes);
    EchoWatch echo(bytes, timing.echo);
    bool done = false;
    for (;;) {
      std::vector<uint8_t> in = transport.ReadAll();
      if (!in.empty() && timing.trace) timing.trace->Input(clock.NowMs(), in);
      in = echo.Take(in);
      result.echoed = echo.Echoed();
      result.received += static_cast<int>(in.size());
      if ((done = search.Add(in, result))) break;
      const uint64_t now = clock.NowMs();
      if (now >= deadline || !transport.IsOpen()) break;
      // Once more bytes are in than an exception reply has, the rest of the reply cannot come
      // sooner than the line carries it: sleep through most of that (a meter's clock may run a
      // little fast), then wait for what is left.
      const int rest = length - result.received;
      if (timing.byteMs > 0 && result.received >= kExceptionLength && rest > 1) {
        const double pauseMs = (rest - 1) * timing.byteMs * kLineRateMargin;
        const double leftMs = static_cast<double>(deadline - now);
        if (pauseMs >= 1) {
          clock.Pause(static_cast<uint32_t>(std::min(pauseMs, leftMs) * 1000));
          continue;
        }
      }
      transport.WaitForInput(static_cast<uint32_t>(deadline - now));
    }
    if (!done) {
      const std::vector<uint8_t> rest = echo.Rest();
      result.received += static_cast<int>(rest.size());
      if (!search.Add(rest, result)) search.Fail(result);
    }
    if (result.error == LinkError::None || result.error == LinkError::Exception) break;
  }
}

}  // namespace

std::span<const uint8_t> ExchangeResult::Data() const {
  if (!Ok() || frame.size() < static_cast<size_t>(dataOffset + dataSize)) return {};
  return std::span<const uint8_t>(frame).subspan(static_cast<size_t>(dataOffset),
                                                 static_cast<size_t>(dataSize));
}

int16_t CopyReceived(const std::vector<uint8_t>& delivered, int16_t count, ReceiveBuffer& rx) {
  const size_t n = std::min({static_cast<size_t>(std::max<int16_t>(count, 0)), delivered.size(), rx.size()});
  if (n) std::memcpy(rx.data(), delivered.data(), n);
  return static_cast<int16_t>(n);
}

ExchangeResult Exchange(Transport& transport, Clock& clock, const Request& request, const Timing& timing,
                        const WindowBuffers* window) {
  RequestFrame ownRequest;
  ReceiveBuffer ownReceive;
  const WindowBuffers buffers = window ? *window : WindowBuffers{ownRequest, ownReceive};
  BuildRequest(buffers.request, request.address, request.function, request.reg, request.word);
  const std::vector<uint8_t> bytes(buffers.request.begin(), buffers.request.end());

  const uint64_t started = clock.NowMs();
  ExchangeResult result;
  if (timing.mode == Timing::Mode::FixedWait)
    FixedWait(transport, clock, request, timing, buffers, bytes, result);
  else
    UntilReply(transport, clock, request, timing, bytes, result);
  result.elapsedMs = clock.NowMs() - started;
  if (result.Ok()) {
    result.dataOffset = ReplyDataOffset(request.function);
    result.dataSize = ReplyDataSize(request.function, request.word);
  } else {
    const Notice notice = transport.TakeNotice();
    result.detail = notice.text;
    result.otherKind = notice.otherKind;
  }
  if (timing.trace) timing.trace->Outcome(clock.NowMs(), result, timing.waitMs);
  return result;
}

std::string DescribeOtherFrame(const std::vector<uint8_t>& frame) {
  char text[96];
  std::snprintf(text, sizeof text, "a valid frame for slave %d, function 0x%02X, but not for this request",
                frame.empty() ? 0 : frame[0], frame.size() > 1 ? frame[1] : 0);
  return text;
}

std::string DescribeFailure(const ExchangeResult& r) {
  std::string text;
  switch (r.error) {
    case LinkError::None:
      return "ok";
    case LinkError::NoReply:
      text = "no reply";
      break;
    case LinkError::BadReply:
      text = "no valid reply (" + std::to_string(r.received) + " bytes, wrong address, length or CRC)";
      break;
    case LinkError::OtherReply:
      text = DescribeOtherFrame(r.frame);
      break;
    case LinkError::Exception:
      text = "exception " + std::to_string(r.exceptionCode) + " (" + ExceptionName(r.exceptionCode) + ")";
      break;
    case LinkError::Lost:
      return r.detail.empty() ? "the port went away" : r.detail;
  }
  if (r.attempts > 1) text += " in " + std::to_string(r.attempts) + " attempts";
  if (!r.detail.empty()) text += ": " + r.detail;
  return text;
}

}  // namespace qm::link
