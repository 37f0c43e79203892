#include "link/trace.h"

#include "link/frame.h"
#include "link/modbus.h"

namespace qm::link {

std::string HexBytes(const std::vector<uint8_t>& bytes, size_t limit) {
  static const char* const kDigits = "0123456789ABCDEF";
  std::string out;
  for (size_t i = 0; i < bytes.size() && i < limit; ++i) {
    if (!out.empty()) out += ' ';
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 0x0F];
  }
  if (bytes.size() > limit) out += " ...";
  return out;
}

void Trace::Line(uint64_t ms, char direction, const std::string& text) {
  std::fprintf(out_, "%8llu ms %c %s\n", static_cast<unsigned long long>(ms), direction, text.c_str());
  std::fflush(out_);
}

std::string Trace::DescribeRequest(const Request& r) const {
  char text[96];
  if (r.function == kFnReadHolding)
    std::snprintf(text, sizeof text, "read %u register%s from 0x%04X", r.word, r.word == 1 ? "" : "s", r.reg);
  else if (r.function == kFnWriteSingle)
    std::snprintf(text, sizeof text, "write %u to 0x%04X", r.word, r.reg);
  else
    std::snprintf(text, sizeof text, "function 0x%02X at 0x%04X", r.function, r.reg);
  std::string words = text;
  const std::string name = names_ ? names_(r.function, r.reg, r.word) : std::string();
  if (!name.empty()) words += " (" + name + ")";
  return words + " at slave " + std::to_string(r.address);
}

std::string Trace::DescribeOutcome(const ExchangeResult& r, uint32_t waitedMs) {
  std::string text;
  if (r.echoed) text = "the request's own bytes came back first (local echo); ";
  if (r.skipped > 0 && (r.error == LinkError::None || r.error == LinkError::Exception))
    text += std::to_string(r.skipped) + " stray byte" + (r.skipped == 1 ? "" : "s") + " skipped; ";
  switch (r.error) {
    case LinkError::None:
      text += r.frame.size() > 1 && r.frame[1] == kFnWriteSingle
                  ? "reply: register and value echoed, CRC ok"
                  : "reply: " + std::to_string(r.dataSize) + " data bytes, CRC ok";
      break;
    case LinkError::Exception:
      text += "exception " + std::to_string(r.exceptionCode) + ": " + ExceptionName(r.exceptionCode);
      break;
    case LinkError::NoReply:
      text += "no reply in " + std::to_string(waitedMs) + " ms";
      break;
    case LinkError::BadReply:
      text += std::to_string(r.received) + " bytes in " + std::to_string(waitedMs) +
              " ms, none a valid frame (wrong speed or parity, noise, or a cut reply)";
      break;
    case LinkError::OtherReply:
      text += DescribeOtherFrame(r.frame);
      break;
    case LinkError::Lost:
      text += "the port went away";
      break;
  }
  if (!r.detail.empty()) text += " (" + r.detail + ")";
  return text;
}

void Trace::Sent(uint64_t ms, const Request& request, const std::vector<uint8_t>& bytes) {
  Line(ms, '>', HexBytes(bytes) + "  " + DescribeRequest(request));
}

void Trace::Input(uint64_t ms, const std::vector<uint8_t>& bytes) {
  Line(ms, '<',
       HexBytes(bytes) + " (" + std::to_string(bytes.size()) + (bytes.size() == 1 ? " byte)" : " bytes)"));
}

void Trace::Outcome(uint64_t ms, const ExchangeResult& result, uint32_t waitedMs) {
  Line(ms, '=', DescribeOutcome(result, waitedMs));
}

void Trace::Note(uint64_t ms, const std::string& text) { Line(ms, '#', text); }

}  // namespace qm::link
