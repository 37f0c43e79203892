// Gateways at the link: addresses, the Modbus TCP reader on any segmentation, and the one exchange
// through a real TCP connection to a gateway played by the test, which fails the ways gateways fail.
#include <gtest/gtest.h>

#include "link/clock.h"
#include "link/exchange.h"
#include "link/gateway.h"
#include "link/named_transport.h"
#include "link/posix_serial_device.h"
#include "tests/support/fake_gateway.h"

namespace {

using Bytes = std::vector<uint8_t>;
using qm::link::LinkError;
using qmtest::FakeGateway;

// CRC-16/MODBUS bit by bit, independent of the program's tables; low byte first on the wire.
Bytes Rtu(Bytes frame) {
  uint16_t crc = 0xFFFF;
  for (uint8_t b : frame) {
    crc ^= b;
    for (int i = 0; i < 8; ++i) crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
  }
  frame.push_back(static_cast<uint8_t>(crc & 0xFF));
  frame.push_back(static_cast<uint8_t>(crc >> 8));
  return frame;
}

// A Modbus TCP frame: transaction id, protocol 0, the length of what follows, then unit id and PDU.
Bytes Mbap(uint16_t transaction, const Bytes& unitAndPdu, int length = -1) {
  const size_t n = length < 0 ? unitAndPdu.size() : static_cast<size_t>(length);
  // Filled in place: GCC 12 at -O3 warns (-Warray-bounds) on inserting after an initializer list.
  Bytes out(6 + unitAndPdu.size());
  out[0] = uint8_t(transaction >> 8);
  out[1] = uint8_t(transaction);
  out[4] = uint8_t(n >> 8);
  out[5] = uint8_t(n);
  std::copy(unitAndPdu.begin(), unitAndPdu.end(), out.begin() + 6);
  return out;
}

// The first `n` bytes of `bytes`.
Bytes Head(const Bytes& bytes, size_t n) {
  return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
}

uint16_t TransactionOf(const Bytes& request) { return static_cast<uint16_t>(request[0] << 8 | request[1]); }

// Model 7410, version 1203: the meter's answer to a read of its two identification words.
const Bytes kIdentPdu{0x01, 0x03, 0x04, 0x1C, 0xF2, 0x04, 0xB3};

TEST(GatewayAddress, NamesAreReadAsTheirKindHostAndPort) {
  const struct {
    const char* name;
    bool gateway;
    const char* text;  // canonical form, or a part of the error; "" for a device path
  } cases[] = {
      {"tcp://192.168.1.20:502", true, "tcp://192.168.1.20:502"},
      {"rtuovertcp://gw.local:4001", true, "rtuovertcp://gw.local:4001"},
      {"tcp://[::1]:1502", true, "tcp://[::1]:1502"},
      {"/dev/ttyUSB0", false, ""},
      {"tcp://192.168.1.20", false, "needs a host and a port"},
      {"tcp://:502", false, "needs a host and a port"},
      {"tcp://host:70000", false, "needs a host and a port"},
      {"rtuovertcp://host:502/x", false, "needs a host and a port"},
      {"udp://host:502", false, "unknown kind of address"},
  };
  for (const auto& c : cases) {
    qm::link::GatewayAddress a;
    std::string error;
    EXPECT_EQ(qm::link::ParseGatewayAddress(c.name, a, error), c.gateway) << c.name;
    if (c.gateway)
      EXPECT_EQ(a.Text(), c.text);
    else
      EXPECT_NE(error.find(c.text), std::string::npos) << c.name << ": " << error;
  }
}

// A stale reply and ours, joined and then cut at every pair of places: only ours comes out, whole,
// as the RTU frame the meter would have sent, and the stale one is named.
TEST(MbapReader, TakesOnlyTheExpectedReplyHoweverTheStreamIsCut) {
  Bytes stream = Mbap(6, kIdentPdu);
  const Bytes ours = Mbap(7, kIdentPdu);
  stream.insert(stream.end(), ours.begin(), ours.end());
  for (size_t i = 0; i <= stream.size(); ++i) {
    for (size_t j = i; j <= stream.size(); ++j) {
      qm::link::MbapReader reader;
      reader.Expect(7);
      Bytes out;
      reader.Feed(stream.data(), i, out);
      reader.Feed(stream.data() + i, j - i, out);
      reader.Feed(stream.data() + j, stream.size() - j, out);
      ASSERT_EQ(out, Rtu(kIdentPdu)) << i << ", " << j;
      EXPECT_EQ(reader.TakeNotice().text, "a reply to another transaction (id 6, expected 7) was dropped");
      EXPECT_EQ(reader.Pending(), 0u);
    }
  }
}

TEST(MbapReader, ALengthThatDoesNotFitItsContentOrNoModbusTcpAtAllIsNamed) {
  qm::link::MbapReader reader;
  reader.Expect(1);
  Bytes out;
  // A length one byte too long: the frame takes the next byte with it and is dropped.
  Bytes wrong = Mbap(1, kIdentPdu, static_cast<int>(kIdentPdu.size()) + 1);
  wrong.push_back(0x00);
  reader.Feed(wrong.data(), wrong.size(), out);
  EXPECT_TRUE(out.empty());
  EXPECT_NE(reader.TakeNotice().text.find("length field (8)"), std::string::npos);
  // An RTU reply where Modbus TCP was expected: never taken, and the likely cause named.
  const Bytes rtu = Rtu(kIdentPdu);
  reader.Feed(rtu.data(), rtu.size(), out);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(
      reader.TakeNotice().text,
      "the gateway answered 9 bytes that are not Modbus TCP but RTU frames: this looks like an RTU-over-TCP "
      "gateway, use rtuovertcp://");
}

// The command line's way of asking, on a real connection.
struct Client {
  explicit Client(const std::string& url) { transport.Open(url, {9600, qm::link::Parity::None, 8, 1}); }
  qm::link::ExchangeResult Identify(uint32_t timeoutMs = 300) {
    return qm::link::Exchange(transport, clock, {1, 0x03, 0x03E0, 2},
                              qm::link::Timing::UntilReply(timeoutMs, 0));
  }
  qm::link::PosixSerialDevice serial;
  qm::link::NamedTransport transport{serial, qm::link::Wording::English};
  qm::link::SteadyClock clock;
};

std::string Tcp(const FakeGateway& g) { return "tcp://127.0.0.1:" + std::to_string(g.Port()); }
std::string RtuOverTcp(const FakeGateway& g) { return "rtuovertcp://127.0.0.1:" + std::to_string(g.Port()); }

TEST(ModbusTcp, RequestsCarryRisingTransactionIdsAndRepliesInPiecesAreTakenWhole) {
  FakeGateway gateway(12, [](const Bytes& request, int) {
    const Bytes reply = Mbap(TransactionOf(request), kIdentPdu);
    return FakeGateway::Answer{
        {Bytes(reply.begin(), reply.begin() + 3), Bytes(reply.begin() + 3, reply.end())}};
  });
  Client client(Tcp(gateway));
  for (int i = 0; i < 2; ++i) {
    const auto r = client.Identify();
    ASSERT_TRUE(r.Ok()) << qm::link::DescribeFailure(r);
    EXPECT_EQ(Bytes(r.Data().begin(), r.Data().end()), (Bytes{0x1C, 0xF2, 0x04, 0xB3}));
  }
  const auto requests = gateway.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0], (Bytes{0x00, 0x01, 0x00, 0x00, 0x00, 0x06, 0x01, 0x03, 0x03, 0xE0, 0x00, 0x02}));
  EXPECT_EQ(TransactionOf(requests[1]), 2);
}

// Each way a Modbus gateway fails, and what the exchange makes of it.
TEST(ModbusTcp, AGatewaysFailuresAreEachNamed) {
  using Answer = FakeGateway::Answer;
  const struct {
    const char* what;
    std::function<Answer(uint16_t tid)> answer;
    LinkError error;
    const char* said;
  } cases[] = {
      {"path unavailable",
       [](uint16_t t) {
         return Answer{{Mbap(t, {0x01, 0x83, 0x0A})}};
       },
       LinkError::Exception, "exception 10 (gateway path unavailable)"},
      {"target silent",
       [](uint16_t t) {
         return Answer{{Mbap(t, {0x01, 0x83, 0x0B})}};
       },
       LinkError::Exception, "exception 11 (gateway target device failed to respond)"},
      {"another transaction",
       [](uint16_t t) { return Answer{{Mbap(static_cast<uint16_t>(t + 5), kIdentPdu)}}; }, LinkError::NoReply,
       "no reply: a reply to another transaction (id 6, expected 1) was dropped"},
      {"stall", [](uint16_t t) { return Answer{{Head(Mbap(t, kIdentPdu), 9)}}; }, LinkError::NoReply,
       "no reply: the gateway sent 9 bytes of a Modbus TCP frame and stalled"},
      {"closed in the middle",
       [](uint16_t t) {
         return Answer{{Head(Mbap(t, kIdentPdu), 9)}, true};
       },
       LinkError::Lost, "gateway tcp://127.0.0.1:"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FakeGateway gateway(12, [&](const Bytes& request, int) { return c.answer(TransactionOf(request)); });
    Client client(Tcp(gateway));
    qm::link::ExchangeResult r;
    try {
      r = client.Identify();
    } catch (const qm::link::CommError& e) {
      r.error = LinkError::Lost;  // as the command line's link takes it
      r.detail = e.what();
    }
    EXPECT_EQ(r.error, c.error);
    EXPECT_NE(qm::link::DescribeFailure(r).find(c.said), std::string::npos) << qm::link::DescribeFailure(r);
    EXPECT_FALSE(r.otherKind) << "a gateway of the right kind";
    if (c.error == LinkError::Lost) {
      EXPECT_NE(r.detail.find("closed the connection"), std::string::npos) << r.detail;
      EXPECT_FALSE(client.transport.IsOpen());
    }
  }
}

// A gateway of the other kind is recognised from what it answers, and the user is told which.
TEST(Gateways, TheOtherKindIsRecognisedAndNamed) {
  // A Modbus gateway reads an RTU request's first two bytes as its transaction id and echoes them.
  FakeGateway modbus(8, [](const Bytes& request, int) {
    return FakeGateway::Answer{{Mbap(static_cast<uint16_t>(request[0] << 8 | request[1]), kIdentPdu)}};
  });
  Client rtuClient(RtuOverTcp(modbus));
  auto r = rtuClient.Identify();
  EXPECT_EQ(r.error, LinkError::BadReply);
  EXPECT_NE(r.detail.find("this looks like a Modbus TCP gateway: use " + Tcp(modbus)), std::string::npos)
      << r.detail;
  EXPECT_TRUE(r.otherKind);

  FakeGateway transparent(12, [](const Bytes&, int) { return FakeGateway::Answer{{Rtu(kIdentPdu)}}; });
  Client tcpClient(Tcp(transparent));
  r = tcpClient.Identify();
  EXPECT_EQ(r.error, LinkError::NoReply);
  EXPECT_NE(r.detail.find("this looks like an RTU-over-TCP gateway, use rtuovertcp://"), std::string::npos)
      << r.detail;
}

TEST(Gateways, AGatewayThatCannotBeReachedIsNamedWithTheReason) {
  const auto error = [](const std::string& url) {
    try {
      Client client(url);
    } catch (const qm::link::CommError& e) {
      return std::string(e.what());
    }
    return std::string("none");
  };
  uint16_t closed;
  {
    FakeGateway gone(8, [](const Bytes&, int) { return FakeGateway::Answer{}; });
    closed = gone.Port();
  }
  const std::string url = "rtuovertcp://127.0.0.1:" + std::to_string(closed);
  EXPECT_EQ(error(url),
            "cannot connect to gateway " + url + ": connection refused (nothing listens on that port)");
  EXPECT_NE(error("tcp://no-such-host.invalid:502")
                .find("cannot connect to gateway tcp://no-such-host.invalid:502: "),
            std::string::npos);
}

}  // namespace
