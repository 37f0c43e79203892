#include "link/gateway.h"

#include "link/modbus.h"
#include "text/word_text.h"

namespace qm::link {
namespace {

constexpr char kTcpScheme[] = "tcp://";
constexpr char kRtuScheme[] = "rtuovertcp://";

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

// The length field a reply with this PDU must carry, 0 for a function the program never asks for.
size_t ExpectedLength(const uint8_t* pdu, size_t available) {
  if (available < 1) return 0;
  if (pdu[0] & kExceptionBit) return 1 + 2;                             // unit, function, code
  if (pdu[0] == 0x03 && available >= 2) return 1 + 2 + size_t{pdu[1]};  // unit, function, count, data
  if (pdu[0] == 0x06) return 1 + 5;                                     // unit, function, register, value
  return 0;
}

}  // namespace

std::string GatewayAddress::Text() const {
  const std::string h = host.find(':') != std::string::npos ? "[" + host + "]" : host;
  return std::string(kind == GatewayKind::ModbusTcp ? kTcpScheme : kRtuScheme) + h + ":" +
         std::to_string(port);
}

bool ParseGatewayAddress(const std::string& name, GatewayAddress& out, std::string& error, Wording wording) {
  error.clear();
  GatewayAddress a;
  std::string rest;
  if (StartsWith(name, kTcpScheme)) {
    a.kind = GatewayKind::ModbusTcp;
    rest = name.substr(sizeof kTcpScheme - 1);
  } else if (StartsWith(name, kRtuScheme)) {
    a.kind = GatewayKind::RtuOverTcp;
    rest = name.substr(sizeof kRtuScheme - 1);
  } else if (name.find("://") != std::string::npos) {
    error = wording == Wording::English
                ? name +
                      ": unknown kind of address; a gateway is tcp://HOST:PORT (Modbus TCP) or "
                      "rtuovertcp://HOST:PORT (RTU over TCP)"
                : name +
                      ": 无法识别的地址; 网关地址是 tcp://主机:端口 (Modbus TCP) 或 rtuovertcp://主机:端口 "
                      "(RTU over TCP)";
    return false;
  } else {
    return false;  // a device path
  }
  size_t colon = std::string::npos;
  if (!rest.empty() && rest[0] == '[') {
    const size_t close = rest.find(']');
    if (close != std::string::npos) {
      a.host = rest.substr(1, close - 1);
      colon = close + 1 < rest.size() && rest[close + 1] == ':' ? close + 1 : std::string::npos;
    }
  } else {
    colon = rest.rfind(':');
    if (colon != std::string::npos) a.host = rest.substr(0, colon);
  }
  const std::optional<long> port =
      colon == std::string::npos ? std::nullopt
                                 : text::ReadInteger(rest.substr(colon + 1), 1, 65535, text::Radix::Decimal);
  const bool portOk = port.has_value();
  if (a.host.empty() || a.host.find_first_of("/?#@ ") != std::string::npos || !portOk) {
    error = wording == Wording::English
                ? name + ": a gateway address needs a host and a port 1..65535, as in " +
                      std::string(a.kind == GatewayKind::ModbusTcp ? kTcpScheme : kRtuScheme) +
                      "192.168.1.20:502"
                : name + ": 网关地址需要主机和端口 (1..65535), 例如 " +
                      std::string(a.kind == GatewayKind::ModbusTcp ? kTcpScheme : kRtuScheme) +
                      "192.168.1.20:502";
    return false;
  }
  a.port = static_cast<uint16_t>(*port);
  out = a;
  return true;
}

void MbapReader::Note(std::string text) {
  if (notice_.empty()) notice_ = std::move(text);
}

Notice MbapReader::TakeNotice() {
  Notice notice;
  std::string& n = notice.text;
  n.swap(notice_);
  if (n.empty() && foreign_ > 0) {
    notice.otherKind = true;
    // What is still pending after them most likely belongs with them.
    std::vector<uint8_t> seen = foreignSeen_;
    seen.insert(seen.end(), pending_.begin(), pending_.end());
    const bool rtu = !FindAnyFrame(seen).empty();
    const std::string count = std::to_string(foreign_ + pending_.size());
    n = wording_ == Wording::English
            ? "the gateway answered " + count + " bytes that are not Modbus TCP" +
                  (rtu ? " but RTU frames: this looks like an RTU-over-TCP gateway, use rtuovertcp://" : "")
            : "网关回答了 " + count + " 字节, 不是 Modbus TCP" +
                  (rtu ? ", 而是 RTU 帧: 这像是 RTU over TCP 网关, 请用 rtuovertcp://" : "");
  }
  foreign_ = 0;
  foreignSeen_.clear();
  return notice;
}

// Takes one whole frame off the front of the pending bytes; false when more must come first.
bool MbapReader::TakeFrame(std::vector<uint8_t>& out) {
  if (pending_.size() < kHeaderSize) return false;
  const uint16_t transaction = static_cast<uint16_t>(pending_[0] << 8 | pending_[1]);
  const uint16_t protocol = static_cast<uint16_t>(pending_[2] << 8 | pending_[3]);
  const size_t length = static_cast<size_t>(pending_[4] << 8 | pending_[5]);
  if (protocol != 0 || length < 2 || length > kMaxLength) {
    // No Modbus TCP here: step over one byte and look for a header again, so what is taken never
    // depends on how the stream was cut. Nothing from these bytes is taken as a reply.
    ++foreign_;
    if (foreignSeen_.size() < 2 * kMaxLength) foreignSeen_.push_back(pending_.front());
    pending_.erase(pending_.begin());
    return true;
  }
  if (pending_.size() < 6 + length) return false;
  const uint8_t* unitAndPdu = pending_.data() + 6;
  const size_t wanted = ExpectedLength(unitAndPdu + 1, length - 1);
  if (transaction != expected_) {
    Note(wording_ == Wording::English
             ? "a reply to another transaction (id " + std::to_string(transaction) + ", expected " +
                   std::to_string(expected_) + ") was dropped"
             : "丢弃了一个属于其他事务的回答 (事务号 " + std::to_string(transaction) + ", 应为 " +
                   std::to_string(expected_) + ")");
  } else if (wanted != length) {  // also a function the program never asks for
    Note(wording_ == Wording::English
             ? "a reply whose length field (" + std::to_string(length) +
                   ") does not match its content was dropped"
             : "丢弃了一个长度字段 (" + std::to_string(length) + ") 与内容不符的回答");
  } else {
    std::vector<uint8_t> frame(unitAndPdu, unitAndPdu + length);
    AppendCrc(frame);
    out.insert(out.end(), frame.begin(), frame.end());
  }
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(6 + length));
  return true;
}

void MbapReader::Feed(const uint8_t* bytes, size_t size, std::vector<uint8_t>& out) {
  // In pieces no larger than one frame can be, so the pending bytes stay bounded.
  for (size_t at = 0; at < size;) {
    const size_t room = 6 + kMaxLength - pending_.size();
    const size_t n = std::min(room, size - at);
    pending_.insert(pending_.end(), bytes + at, bytes + at + n);
    at += n;
    while (TakeFrame(out)) {
    }
  }
}

std::vector<uint8_t> MbapRequest(const std::vector<uint8_t>& rtu, uint16_t transaction) {
  if (rtu.size() < 4) return {};
  const size_t length = rtu.size() - 2;  // unit id and PDU: the RTU frame without its CRC
  std::vector<uint8_t> out{
      static_cast<uint8_t>(transaction >> 8), static_cast<uint8_t>(transaction & 0xFF), 0, 0,
      static_cast<uint8_t>(length >> 8),      static_cast<uint8_t>(length & 0xFF)};
  out.insert(out.end(), rtu.begin(), rtu.end() - 2);
  return out;
}

bool LooksLikeMbapReply(const std::vector<uint8_t>& request, const std::vector<uint8_t>& reply) {
  if (request.size() < 2 || reply.size() < 8) return false;
  const size_t length = static_cast<size_t>(reply[4] << 8 | reply[5]);
  return reply[0] == request[0] && reply[1] == request[1] && reply[2] == 0 && reply[3] == 0 && length >= 2 &&
         length <= MbapReader::kMaxLength;
}

std::string UseModbusTcpText(const GatewayAddress& at, Wording wording) {
  GatewayAddress other = at;
  other.kind = GatewayKind::ModbusTcp;
  return wording == Wording::English ? "this looks like a Modbus TCP gateway: use " + other.Text()
                                     : "这像是 Modbus TCP 网关: 请用 " + other.Text();
}

std::string UseRtuOverTcpText(const GatewayAddress& at, Wording wording) {
  GatewayAddress other = at;
  other.kind = GatewayKind::RtuOverTcp;
  return wording == Wording::English ? "this looks like an RTU-over-TCP gateway: use " + other.Text()
                                     : "这像是 RTU over TCP 网关: 请用 " + other.Text();
}

}  // namespace qm::link
