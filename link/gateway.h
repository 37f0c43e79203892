#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "link/port_errors.h"
#include "link/transport.h"

namespace qm::link {

// The two kinds of serial-to-Ethernet gateway. A transparent one carries RTU frames, CRC included,
// through a TCP connection; a Modbus gateway speaks Modbus TCP (an MBAP header, no CRC) on the
// network and RTU on its serial side.
enum class GatewayKind { RtuOverTcp, ModbusTcp };

// A gateway as the user names it: tcp://HOST:PORT (Modbus TCP) or rtuovertcp://HOST:PORT; an IPv6
// host stands in brackets.
struct GatewayAddress {
  GatewayKind kind = GatewayKind::ModbusTcp;
  std::string host;
  uint16_t port = 0;
  std::string Text() const;  // as the user wrote it, canonically
};

// True when `name` is a gateway address. False with `error` empty when it is no URL at all (a device
// path); false with `error` set when it is a URL that does not name a gateway properly.
bool ParseGatewayAddress(const std::string& name, GatewayAddress& out, std::string& error,
                         Wording wording = Wording::English);

// Reads Modbus TCP from a connection's byte stream and turns each reply to the expected transaction
// into the RTU frame a meter on a serial line would have sent (slave address, PDU, CRC), so the one
// reply search serves both. Frames may arrive split or joined in any way. A reply to another
// transaction, or whose length field does not match its PDU, is dropped and noted; so are bytes that
// are no Modbus TCP at all.
class MbapReader {
 public:
  static constexpr size_t kHeaderSize = 7;
  static constexpr size_t kMaxLength = 254;  // the length field: unit id and a PDU of at most 253 bytes

  explicit MbapReader(Wording wording = Wording::English) : wording_(wording) {}
  // The transaction id of the request just sent: only its reply counts from now on.
  void Expect(uint16_t transaction) { expected_ = transaction; }
  // Appends what `bytes` complete to `out`.
  void Feed(const uint8_t* bytes, size_t size, std::vector<uint8_t>& out);
  // What was dropped or looked wrong since the last call; empty when nothing.
  Notice TakeNotice();
  size_t Pending() const { return pending_.size(); }

 private:
  void Note(std::string text);
  bool TakeFrame(std::vector<uint8_t>& out);

  Wording wording_;
  uint16_t expected_ = 0;
  std::vector<uint8_t> pending_;
  std::string notice_;
  size_t foreign_ = 0;                // bytes that were no Modbus TCP, since the last notice
  std::vector<uint8_t> foreignSeen_;  // the first of them, to tell what they were
};

// The Modbus TCP request for an RTU request frame: the MBAP header with `transaction`, the slave
// address as unit id, the PDU without the CRC.
std::vector<uint8_t> MbapRequest(const std::vector<uint8_t>& rtuFrame, uint16_t transaction);

// Whether the first bytes that came back for an RTU request look like a Modbus TCP reply to it (a
// Modbus gateway reads the request's first two bytes as the transaction id and echoes them).
bool LooksLikeMbapReply(const std::vector<uint8_t>& request, const std::vector<uint8_t>& reply);

// The notices of a gateway of the other kind.
std::string UseModbusTcpText(const GatewayAddress& at, Wording wording);
std::string UseRtuOverTcpText(const GatewayAddress& at, Wording wording);

}  // namespace qm::link
