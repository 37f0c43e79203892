// qm7410-sim's command line: what it accepts, and how it names what it refuses.
#include <gtest/gtest.h>

#include "sim/options.h"

namespace {

using qm::sim::Endpoint;
using qm::sim::Options;

// The error for `args`, or "" when they are accepted.
std::string ErrorOf(const std::vector<std::string>& args, Options* out = nullptr) {
  Options o;
  bool help = false;
  std::string error;
  const bool ok = qm::sim::ParseOptions(args, o, help, error);
  if (out) *out = o;
  return ok ? std::string() : error;
}

TEST(SimOptions, UnknownOptionsAndMissingValuesAreToldApart) {
  EXPECT_EQ(ErrorOf({"--link", "/tmp/x", "--bogus"}), "unknown option --bogus");
  EXPECT_EQ(ErrorOf({"--bogus"}), "unknown option --bogus");
  EXPECT_EQ(ErrorOf({"--link", "/tmp/x", "extra"}), "unknown option extra");
  EXPECT_EQ(ErrorOf({"--link"}), "missing value after --link");
  EXPECT_EQ(ErrorOf({"--link", "/tmp/x", "--listen-tcp"}), "missing value after --listen-tcp");
  EXPECT_EQ(ErrorOf({"--link", "/tmp/x", "--fault", "meltdown"}), "unknown fault: meltdown");
}

TEST(SimOptions, TheLineTheNetworkOrBoth) {
  Options o;
  EXPECT_EQ(ErrorOf({"--listen-tcp", ":0"}, &o), "");  // network only
  EXPECT_EQ(o.listenTcp.host, "127.0.0.1");
  EXPECT_EQ(o.listenTcp.port, "0");
  EXPECT_TRUE(o.listenRtu.empty());
  EXPECT_EQ(ErrorOf({"--device", "/dev/ttyUSB0", "--listen-rtu", "1502", "--listen-tcp", "0.0.0.0:502"}, &o),
            "");
  EXPECT_EQ(o.listenRtu.host, "127.0.0.1");
  EXPECT_EQ(o.listenRtu.port, "1502");
  EXPECT_EQ(o.listenTcp.host, "0.0.0.0");
  EXPECT_EQ(o.listenTcp.port, "502");
  EXPECT_EQ(ErrorOf({"--address", "1"}),
            "give --link PATH, --device PATH, --listen-rtu HOST:PORT or --listen-tcp HOST:PORT");
  EXPECT_EQ(ErrorOf({"--link", "/tmp/a", "--device", "/dev/ttyS0"}),
            "give only one of --link PATH and --device PATH");
}

TEST(SimOptions, ListenAddresses) {
  Endpoint e;
  ASSERT_TRUE(qm::sim::ParseEndpoint("[::1]:5020", e));
  EXPECT_EQ(e.host, "::1");
  EXPECT_EQ(e.port, "5020");
  ASSERT_TRUE(qm::sim::ParseEndpoint("localhost:0502", e));  // decimal, not octal
  EXPECT_EQ(e.host, "localhost");
  EXPECT_EQ(e.port, "502");
  ASSERT_TRUE(qm::sim::ParseEndpoint("65535", e));
  for (const char* bad : {"", ":", "host:", "65536", "12x", "-1", "1.2.3.4:port", "0x10"})
    EXPECT_FALSE(qm::sim::ParseEndpoint(bad, e)) << bad;
  EXPECT_EQ(ErrorOf({"--listen-rtu", "host:"}),
            "--listen-rtu wants HOST:PORT, :PORT or PORT (port 0..65535): host:");
}

TEST(SimOptions, NewFaultsByName) {
  Options o;
  ASSERT_EQ(ErrorOf({"--listen-tcp", "0", "--fault", "gatewaypath", "--fault", "gatewaytarget:2", "--fault",
                     "close", "--fault", "stall:3", "--fault", "wrongtid"},
                    &o),
            "");
  using F = qm::sim::Fault;
  const std::vector<std::pair<F, int>> expected{
      {F::GatewayPath, 1}, {F::GatewayTarget, 2}, {F::Close, 1}, {F::Stall, 3}, {F::WrongTid, 1}};
  EXPECT_EQ(o.faults, expected);
}

}  // namespace
