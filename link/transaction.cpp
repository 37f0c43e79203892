#include "link/transaction.h"

#include <algorithm>

#include "link/find_response.h"
#include "link/frame.h"
#include "link/modbus.h"

namespace qm::link {
namespace {

constexpr int kExceptionLength = 5;  // address, function | 0x80, code, CRC
// A sender's clock may run up to a few percent fast; a pause for the rest of a reply is cut short by
// this much so it never ends after the reply.
constexpr double kLineRateMargin = 0.95;
// Bytes are searched in pieces of at most this size, so a flood of any length stays within the
// search's 16-bit lengths.
constexpr size_t kPiece = 1024;

// Searches the bytes gathered so far; afterwards keeps only a tail that may still begin a frame.
class ReplySearch {
 public:
  ReplySearch(uint8_t address, uint8_t function, int length)
      : address_(address), function_(function), length_(length) {}

  // True once the reply (or an exception reply) is complete.
  bool Add(const std::vector<uint8_t>& bytes, TransactionResult& result) {
    for (size_t at = 0; at < bytes.size(); at += kPiece) {
      const auto first = bytes.begin() + static_cast<std::ptrdiff_t>(at);
      buffer_.insert(buffer_.end(), first,
                     first + static_cast<std::ptrdiff_t>(std::min(kPiece, bytes.size() - at)));
      if (Search(result)) return true;
    }
    return false;
  }

 private:
  bool Search(TransactionResult& result) {
    const auto n = static_cast<int16_t>(buffer_.size());
    const int16_t i = FindResponse(buffer_.data(), n, function_, address_, static_cast<int16_t>(length_));
    if (i >= 0) {
      result.error = TransactionError::None;
      result.frame.assign(buffer_.begin() + i, buffer_.begin() + i + length_);
      return true;
    }
    const int16_t e = FindResponse(buffer_.data(), n, static_cast<uint8_t>(function_ | kExceptionBit),
                                   address_, kExceptionLength);
    if (e >= 0) {
      result.error = TransactionError::Exception;
      result.exceptionCode = buffer_[static_cast<size_t>(e) + 2];
      result.frame.assign(buffer_.begin() + e, buffer_.begin() + e + kExceptionLength);
      return true;
    }
    // Every frame that could start before the tail has been tried already.
    const size_t keep = static_cast<size_t>(std::max(length_, kExceptionLength) - 1);
    if (buffer_.size() > keep)
      buffer_.erase(buffer_.begin(), buffer_.end() - static_cast<std::ptrdiff_t>(keep));
    return false;
  }

  uint8_t address_;
  uint8_t function_;
  int length_;
  std::vector<uint8_t> buffer_;
};

}  // namespace

std::span<const uint8_t> TransactionResult::Data() const {
  if (!Ok() || frame.size() < static_cast<size_t>(dataOffset + dataSize)) return {};
  return std::span<const uint8_t>(frame).subspan(static_cast<size_t>(dataOffset),
                                                 static_cast<size_t>(dataSize));
}

TransactionResult Transact(Transport& device, InputWait& wait, uint8_t address, uint8_t function,
                           uint16_t reg, uint16_t word, const TransactionOptions& options) {
  RequestFrame request;
  BuildRequest(request, address, function, reg, word);
  const std::vector<uint8_t> bytes(request.begin(), request.end());
  const int length = ExpectedReplyLength(function, word);

  TransactionResult result;
  const uint64_t started = wait.NowMs();
  const int attempts = 1 + std::max(options.retries, 0);
  for (int attempt = 1; attempt <= attempts; ++attempt) {
    result = TransactionResult{};
    result.attempts = attempt;
    device.DiscardInput();  // a late reply to an earlier request is never taken for this one
    device.Write(bytes);
    const uint64_t deadline = wait.NowMs() + options.timeoutMs;
    ReplySearch search(address, function, length);
    for (;;) {
      const std::vector<uint8_t> in = device.ReadAll();
      result.received += static_cast<int>(in.size());
      if (search.Add(in, result)) break;
      const uint64_t now = wait.NowMs();
      if (now >= deadline) {
        result.error = result.received ? TransactionError::BadReply : TransactionError::NoReply;
        break;
      }
      // Once more bytes are in than an exception reply has, the rest of the reply cannot come
      // sooner than the line carries it: sleep through most of that (a meter's clock may run a
      // little fast), then wait for what is left.
      const int rest = length - result.received;
      if (options.byteMs > 0 && result.received >= kExceptionLength && rest > 1) {
        const double pauseMs = (rest - 1) * options.byteMs * kLineRateMargin;
        const double leftMs = static_cast<double>(deadline - now);
        if (pauseMs >= 1) {
          wait.Pause(static_cast<uint32_t>(std::min(pauseMs, leftMs) * 1000));
          continue;
        }
      }
      wait.WaitForInput(static_cast<uint32_t>(deadline - now));
    }
    if (result.error == TransactionError::None || result.error == TransactionError::Exception) break;
  }
  result.elapsedMs = wait.NowMs() - started;
  if (result.Ok()) {
    result.dataOffset = ReplyDataOffset(function);
    result.dataSize = ReplyDataSize(function, word);
  }
  return result;
}

std::string DescribeFailure(const TransactionResult& r) {
  std::string text;
  switch (r.error) {
    case TransactionError::None:
      return "ok";
    case TransactionError::NoReply:
      text = "no reply";
      break;
    case TransactionError::BadReply:
      text = "no valid reply (" + std::to_string(r.received) + " bytes, wrong address, length or CRC)";
      break;
    case TransactionError::Exception:
      return "exception " + std::to_string(r.exceptionCode) + " (" + ExceptionName(r.exceptionCode) + ")";
  }
  if (r.attempts > 1) text += " in " + std::to_string(r.attempts) + " attempts";
  return text;
}

}  // namespace qm::link
