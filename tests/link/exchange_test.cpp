// The exchange and the serial port control, against the in-process simulated meter on virtual time.
#include "link/exchange.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "link/link_settings.h"
#include "sim/sim_commands.h"
#include "sim/sim_serial_device.h"

namespace {

using qm::CMSComm;
using qm::CommError;
using qm::ReplyMode;
using qm::sim::Fault;
using qm::sim::MeterConfig;
using qm::sim::SimMeter;
using qm::sim::SimSerialDevice;
using qm::sim::VirtualClock;

// ---- CopyReceived ----

TEST(CopyReceived, NeverRunsPastTheArrayOrTheBuffer) {
  struct Case {
    int16_t count;
    size_t delivered;
    int16_t copied;
  };
  const Case cases[] = {
      {0, 0, 0},       {0, 10, 0},      {10, 10, 10},      {10, 4, 4},    {-1, 10, 0},
      {400, 500, 400}, {401, 500, 400}, {32767, 500, 400}, {32767, 3, 3}, {-32768, 500, 0},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> delivered(c.delivered);
    for (size_t i = 0; i < delivered.size(); ++i) delivered[i] = static_cast<uint8_t>(i + 1);
    qm::ReceiveBuffer rx;
    rx.fill(0xEE);
    EXPECT_EQ(qm::CopyReceived(delivered, c.count, rx), c.copied) << c.count << " of " << c.delivered;
    for (int i = 0; i < c.copied; ++i) ASSERT_EQ(rx[static_cast<size_t>(i)], static_cast<uint8_t>(i + 1));
    if (c.copied < qm::kReceiveSize) {
      EXPECT_EQ(rx[static_cast<size_t>(c.copied)], 0xEE) << "copied too much";
    }
  }
}

// ---- CMSComm ----

TEST(LineSettingsParse, SettingsStrings) {
  struct Case {
    const char* text;
    bool ok;
    qm::LineSettings line;
  };
  const Case cases[] = {
      {"9600,N,8,1", true, {9600, 'N', 8, 1}},
      {"19200,E,8,1", true, {19200, 'E', 8, 1}},
      {"1200,o,8,1", true, {1200, 'O', 8, 1}},
      {"9600,N,8,2", true, {9600, 'N', 8, 2}},
      {"2400,N,7,1", true, {2400, 'N', 7, 1}},
      {"", false, {}},
      {"9600", false, {}},
      {"9600,N,8", false, {}},
      {"9600,X,8,1", false, {}},
      {"9600,N,9,1", false, {}},
      {"9600,N,8,3", false, {}},
      {"9600,N,8,1,1", false, {}},
      {"0,N,8,1", false, {}},
      {"-9600,N,8,1", false, {}},
      {"fast,N,8,1", false, {}},
      {"9600;N;8;1", false, {}},
  };
  for (const Case& c : cases) {
    qm::LineSettings line{1, '?', 0, 0};
    EXPECT_EQ(qm::ParseLineSettings(c.text, line), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(line, c.line) << c.text;
    }
  }
  for (int parity = 0; parity < 3; ++parity)
    for (int baud : {1200, 2400, 4800, 9600, 19200}) {
      qm::LineSettings line;
      ASSERT_TRUE(qm::ParseLineSettings(qm::SettingsString(baud, parity), line));
      EXPECT_EQ(line.baud, baud);
      EXPECT_EQ(line.parity, "NOE"[parity]);
    }
}

struct Rig {
  explicit Rig(MeterConfig config = {}) : meter(config), device(meter, clock), comm(&device) {}
  // The window's opening order.
  void Open(const std::string& settings = "9600,N,8,1") {
    comm.SetCommPort(1);
    comm.SetSettings(settings);
    comm.SetPortOpen(true);
    comm.SetInputLen(0);
    comm.SetInBufferCount(0);
  }
  qm::ExchangeResult Run(uint8_t function, uint16_t reg, uint16_t word, uint32_t wait,
                         ReplyMode mode = ReplyMode::Check, uint8_t address = 1) {
    return qm::Exchange({comm, clock, request, rx}, address, function, reg, word, wait, mode);
  }
  VirtualClock clock;
  SimMeter meter;
  SimSerialDevice device;
  CMSComm comm;
  qm::RequestFrame request{};
  qm::ReceiveBuffer rx{};
};

TEST(MsComm, InvalidSettingsAreRefusedAndTheOldOnesKept) {
  Rig rig;
  rig.Open("19200,E,8,1");
  EXPECT_THROW(rig.comm.SetSettings("19200,Q,8,1"), CommError);
  EXPECT_EQ(rig.comm.GetSettings(), "19200,E,8,1");
  EXPECT_EQ(rig.device.Line(), (qm::LineSettings{19200, 'E', 8, 1}));
  rig.comm.SetSettings("9600,N,8,2");  // applies at once to the open port
  EXPECT_EQ(rig.device.Line(), (qm::LineSettings{9600, 'N', 8, 2}));
}

TEST(MsComm, ClosedPortSendsNothingAndDeliversNothing) {
  Rig rig;
  EXPECT_FALSE(rig.comm.GetPortOpen());
  const uint8_t frame[] = {1, 3, 0, 0, 0, 1, 0x84, 0x0A};
  qm::SendFrame(rig.comm, frame, 8);
  EXPECT_TRUE(rig.device.Log().empty());
  EXPECT_EQ(rig.comm.GetInBufferCount(), 0);
  EXPECT_TRUE(rig.comm.GetInput().empty());
  // A whole exchange on a closed port waits and finds nothing.
  const auto result = rig.Run(0x03, 0x0300, 26, 200);
  EXPECT_EQ(result.index, -1);
  EXPECT_EQ(result.received, 0);
  EXPECT_EQ(rig.clock.NowMs(), 200u);
  EXPECT_EQ(rig.meter.FramesHandled(), 0);
}

TEST(MsComm, WithoutADeviceOpeningIsAnError) {
  CMSComm comm;
  EXPECT_FALSE(comm.GetPortOpen());
  EXPECT_THROW(comm.SetPortOpen(true), CommError);
  EXPECT_EQ(comm.GetInBufferCount(), 0);
  EXPECT_TRUE(comm.GetInput().empty());
}

TEST(MsComm, PortNumberChangesOnlyWhileClosed) {
  Rig rig;
  rig.Open();
  EXPECT_THROW(rig.comm.SetCommPort(2), CommError);
  rig.comm.SetPortOpen(false);
  rig.comm.SetCommPort(2);
  EXPECT_EQ(rig.comm.GetCommPort(), 2);
}

TEST(MsComm, PortPathFollowsEnvironment) {
  setenv("QM7410_COM7", "/tmp/qm-meter-link", 1);
  EXPECT_EQ(qm::DevicePathForPort(7), "/tmp/qm-meter-link");
  unsetenv("QM7410_COM7");
  EXPECT_EQ(qm::DevicePathForPort(7), "/dev/ttyS6");
  Rig rig;
  setenv("QM7410_COM1", "/tmp/qm-meter-link", 1);
  rig.Open();
  unsetenv("QM7410_COM1");
  EXPECT_EQ(rig.device.Path(), "/tmp/qm-meter-link");
}

TEST(MsComm, InputLenLimitsOneReadAndKeepsTheRest) {
  Rig rig;
  rig.Open();
  rig.device.Inject({1, 2, 3, 4, 5});
  rig.comm.SetInputLen(2);
  EXPECT_EQ(rig.comm.GetInBufferCount(), 5);
  EXPECT_EQ(rig.comm.GetInput(), (std::vector<uint8_t>{1, 2}));
  EXPECT_EQ(rig.comm.GetInBufferCount(), 3);
  rig.comm.SetInputLen(0);
  EXPECT_EQ(rig.comm.GetInput(), (std::vector<uint8_t>{3, 4, 5}));
  EXPECT_TRUE(rig.comm.GetInput().empty());
  rig.device.Inject({9, 9});
  rig.comm.SetInBufferCount(0);
  EXPECT_EQ(rig.comm.GetInBufferCount(), 0);
}

TEST(MsComm, FailedOpenNamesPathAndReason) {
  Rig rig;
  setenv("QM7410_COM3", "/dev/ttyUSB9", 1);
  rig.device.FailOpen("/dev/ttyUSB9", "Device or resource busy");
  rig.comm.SetCommPort(3);
  try {
    rig.comm.SetPortOpen(true);
    FAIL() << "opening succeeded";
  } catch (const CommError& e) {
    EXPECT_NE(std::string(e.what()).find("/dev/ttyUSB9"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("Device or resource busy"), std::string::npos) << e.what();
  }
  unsetenv("QM7410_COM3");
  EXPECT_FALSE(rig.comm.GetPortOpen());
}

TEST(MsComm, UnpluggedAdapterIsReportedOnceThenThePortIsClosed) {
  Rig rig;
  rig.Open();
  ASSERT_EQ(rig.Run(0x03, 0x0300, 26, 200).index, 0);
  rig.device.Unplug();
  try {
    rig.Run(0x03, 0x0300, 26, 200);
    FAIL() << "no error";
  } catch (const CommError& e) {
    EXPECT_NE(std::string(e.what()).find("/dev/ttyS0"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(rig.comm.GetPortOpen());
  const auto again = rig.Run(0x03, 0x0300, 26, 200);  // no second error
  EXPECT_EQ(again.index, -1);
  rig.comm.SetPortOpen(true);  // plugged in again
  EXPECT_EQ(rig.Run(0x03, 0x0300, 26, 200).index, 0);
}

// ---- Exchange against the meter ----

TEST(Exchange, ReadReturnsTheMeterBytes) {
  MeterConfig config;
  config.address = 9;
  config.pt = 100;
  config.ct = 50;
  Rig rig(config);
  rig.Open();
  const auto r = rig.Run(0x03, 0x0300, 26, 200, ReplyMode::Check, 9);
  ASSERT_EQ(r.index, 0);
  EXPECT_EQ(r.received, 57);
  for (int k = 0; k < 52; ++k) EXPECT_EQ(rig.rx[static_cast<size_t>(3 + k)], rig.meter.Byte(0x0300 + k)) << k;
  EXPECT_EQ(rig.rx[3 + 1], 9);
  EXPECT_EQ(rig.rx[3 + 15], 100);
  EXPECT_EQ(rig.rx[3 + 19], 50);
  // Exactly the request the window builds went out, at the line's settings.
  ASSERT_EQ(rig.device.Log().size(), 1u);
  EXPECT_EQ(rig.device.Log()[0].bytes, std::vector<uint8_t>(rig.request.begin(), rig.request.end()));
  EXPECT_EQ(rig.device.Log()[0].line.baud, 9600);
}

TEST(Exchange, WriteIsConfirmedByItsEcho) {
  Rig rig;
  rig.Open();
  const auto r = rig.Run(0x06, 0x030E, 400, 200);
  ASSERT_EQ(r.index, 0);
  EXPECT_EQ(r.received, 8);
  EXPECT_TRUE(std::equal(rig.request.begin(), rig.request.end(), rig.rx.begin()));
  EXPECT_EQ(rig.meter.Word(0x030E), 400);
}

TEST(Exchange, ReplyModes) {
  Rig rig;
  rig.Open();
  auto none = rig.Run(0x06, 0x0022, 1, 300, ReplyMode::None);
  EXPECT_EQ(none.index, -1);
  EXPECT_EQ(none.received, 0);
  EXPECT_EQ(rig.comm.GetInBufferCount(), 8);  // the echo waits, unread
  auto drain = rig.Run(0x06, 0x0022, 0, 300, ReplyMode::Drain);
  EXPECT_EQ(drain.index, -1);
  EXPECT_EQ(drain.received, 8);  // only the new echo: the earlier one was dropped first
  EXPECT_EQ(rig.rx[5], 0);
  EXPECT_EQ(rig.comm.GetInBufferCount(), 0);
}

// Each fault on one reply: the exchange survives, and the next exchange works again.
TEST(Exchange, FaultsGiveNoReplyAndTheNextExchangeRecovers) {
  struct Case {
    Fault fault;
    int16_t index;     // of the faulty exchange
    int16_t received;  // bytes of the faulty exchange
  };
  const Case cases[] = {
      {Fault::Silence, -1, 0},    {Fault::Late, -1, 0},          {Fault::Noise, 3, 60},
      {Fault::BadCrc, -1, 57},    {Fault::WrongAddress, -1, 57}, {Fault::Exception, -1, 5},
      {Fault::Truncated, -1, 54}, {Fault::Flood, -1, 400},
  };
  for (const Case& c : cases) {
    Rig rig;
    rig.Open();
    rig.meter.InjectFault(c.fault);
    // A generous wait, so that even the flood is complete.
    const auto bad = rig.Run(0x03, 0x0300, 26, 1000);
    EXPECT_EQ(bad.index, c.index) << qm::sim::FaultName(c.fault);
    EXPECT_EQ(bad.received, c.received) << qm::sim::FaultName(c.fault);
    // Whatever is still on its way (the late reply) is in by now and dropped by the next flush.
    rig.clock.Advance(3000);
    const auto good = rig.Run(0x03, 0x0300, 26, 200);
    EXPECT_EQ(good.index, 0) << qm::sim::FaultName(c.fault);
    EXPECT_EQ(good.received, 57) << qm::sim::FaultName(c.fault);
  }
}

TEST(Exchange, LateReplyMissesEveryWait) {
  for (int baud : {1200, 19200}) {
    MeterConfig config;
    config.baud = baud;
    Rig rig(config);
    rig.Open(qm::SettingsString(baud, 0));
    rig.meter.InjectFault(Fault::Late);
    EXPECT_EQ(rig.Run(0x03, 0x0000, 41, 1500).received, 0) << baud;
  }
}

TEST(Exchange, MismatchedLineGetsNoReply) {
  struct Case {
    const char* settings;
    int32_t meterBaud;
    char meterParity;
  };
  const Case cases[] = {
      {"9600,N,8,1", 19200, 'N'},
      {"19200,N,8,1", 9600, 'N'},
      {"9600,E,8,1", 9600, 'N'},
      {"9600,N,8,1", 9600, 'O'},
  };
  for (const Case& c : cases) {
    MeterConfig config;
    config.baud = c.meterBaud;
    config.parity = c.meterParity;
    Rig rig(config);
    rig.Open(c.settings);
    const auto r = rig.Run(0x03, 0x0300, 26, 300);
    EXPECT_EQ(r.index, -1) << c.settings;
    EXPECT_EQ(r.received, 0) << c.settings;
  }
}

// The program's waits leave room for the longest reply of each request at every rate, even with a
// parity bit on every character.
TEST(Exchange, EveryPollRequestIsAnsweredWithinItsWait) {
  for (int parity = 0; parity < 3; ++parity) {
    for (int baud : {1200, 2400, 4800, 9600, 19200}) {
      MeterConfig config;
      config.baud = baud;
      config.parity = "NOE"[parity];
      Rig rig(config);
      rig.Open(qm::SettingsString(baud, parity));
      const qm::TimingSet t = qm::TimingForBaud(baud);
      EXPECT_EQ(rig.Run(0x03, 0x03E0, 2, t.shortWait).index, 0) << baud;
      EXPECT_EQ(rig.Run(0x03, 0x0300, 26, t.shortWait).index, 0) << baud;
      EXPECT_EQ(rig.Run(0x03, 0x03A8, 1, t.shortWait).index, 0) << baud;
      EXPECT_EQ(rig.Run(0x03, 0x0000, 41, t.longWait).index, 0) << baud;
      EXPECT_EQ(rig.Run(0x06, 0x0022, 1, t.shortWait).index, 0) << baud;
      // A wait shorter than the reply's own transmission time does not see it.
      const auto tooShort = static_cast<uint32_t>(87 * 10 * 1000 / baud - 1);
      EXPECT_EQ(rig.Run(0x03, 0x0000, 41, tooShort).index, -1) << baud;
    }
  }
}

TEST(Exchange, BytesArrivingDuringTheWaitAreCountedOnce) {
  Rig rig;
  rig.Open();
  rig.device.Inject({0xAA, 0xBB});  // before the exchange: dropped by its flush
  const auto r = rig.Run(0x03, 0x03E0, 2, 200);
  EXPECT_EQ(r.index, 0);
  EXPECT_EQ(r.received, 9);
}

}  // namespace
