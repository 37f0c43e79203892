// Our wire format against an independent Modbus implementation (libmodbus): libmodbus as the slave
// answering our requests, and libmodbus as the master reading the simulated meter.
#include <errno.h>
#include <fcntl.h>
#include <modbus.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <thread>

#include "link/event_loop_clock.h"
#include "link/exchange.h"
#include "link/qt_serial_device.h"
#include "qt_env.h"
#include "sim_process.h"

namespace {

[[maybe_unused]] ::testing::Environment* const kQt =
    ::testing::AddGlobalTestEnvironment(new e2e::QtEnvironment);

// Two pseudo-terminals whose master sides a thread wires together: what one opener of a slave side
// writes, the opener of the other reads, like a null-modem cable.
class NullModem {
 public:
  NullModem() {
    for (int k = 0; k < 2; ++k) {
      master_[k] = posix_openpt(O_RDWR | O_NOCTTY);
      if (master_[k] < 0 || grantpt(master_[k]) != 0 || unlockpt(master_[k]) != 0) return;
      path_[k] = ptsname(master_[k]);
      // Held open so the masters never report EIO between the openers' sessions; raw so that
      // nothing is echoed or translated before an opener sets the line up.
      slave_[k] = open(path_[k].c_str(), O_RDWR | O_NOCTTY);
      if (slave_[k] < 0) return;
      termios t{};
      tcgetattr(slave_[k], &t);
      cfmakeraw(&t);
      tcsetattr(slave_[k], TCSANOW, &t);
    }
    ok_ = true;
    thread_ = std::thread([this] { Pump(); });
  }
  ~NullModem() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    for (int fd : {master_[0], master_[1], slave_[0], slave_[1]})
      if (fd >= 0) close(fd);
  }
  bool Ok() const { return ok_; }
  const std::string& End(int k) const { return path_[k]; }

 private:
  void Pump() {
    while (!stop_) {
      pollfd fds[2] = {{master_[0], POLLIN, 0}, {master_[1], POLLIN, 0}};
      if (poll(fds, 2, 20) <= 0) continue;
      for (int k = 0; k < 2; ++k) {
        if (!(fds[k].revents & POLLIN)) continue;
        uint8_t buf[1024];
        const ssize_t n = read(master_[k], buf, sizeof buf);
        if (n > 0 && write(master_[1 - k], buf, static_cast<size_t>(n)) != n) break;
      }
    }
  }

  int master_[2] = {-1, -1};
  int slave_[2] = {-1, -1};
  std::string path_[2];
  bool ok_ = false;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// A libmodbus RTU slave with 100 holding registers, serving until destroyed.
class ModbusSlave {
 public:
  ModbusSlave(const std::string& path, int address) {
    ctx_ = modbus_new_rtu(path.c_str(), 9600, 'N', 8, 1);
    map_ = modbus_mapping_new(0, 0, 100, 0);
    if (!ctx_ || !map_ || modbus_set_slave(ctx_, address) != 0 || modbus_connect(ctx_) != 0) return;
    modbus_set_indication_timeout(ctx_, 0, 50000);  // so the serving loop notices the stop
    for (int i = 0; i < 100; ++i) map_->tab_registers[i] = static_cast<uint16_t>(0x1000 + 0x0101 * i);
    connected_ = true;
    thread_ = std::thread([this] {
      uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
      while (!stop_) {
        const int rc = modbus_receive(ctx_, query);
        if (rc > 0) modbus_reply(ctx_, query, rc, map_);
      }
    });
  }
  ~ModbusSlave() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (ctx_) {
      modbus_close(ctx_);
      modbus_free(ctx_);
    }
    if (map_) modbus_mapping_free(map_);
  }
  bool Ok() const { return connected_; }
  uint16_t Register(int i) const { return map_->tab_registers[i]; }

 private:
  modbus_t* ctx_ = nullptr;
  modbus_mapping_t* map_ = nullptr;
  bool connected_ = false;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

TEST(ModbusInterop, LibmodbusSlaveAnswersOurRequests) {
  NullModem cable;
  ASSERT_TRUE(cable.Ok());
  ModbusSlave slave(cable.End(0), 0x11);
  ASSERT_TRUE(slave.Ok()) << modbus_strerror(errno);

  setenv("QM7410_COM8", cable.End(1).c_str(), 1);
  qm::QtSerialDevice device;
  qm::CMSComm comm(&device);
  comm.SetCommPort(8);
  comm.SetSettings("9600,N,8,1");
  comm.SetPortOpen(true);
  comm.SetInputLen(0);
  comm.SetInBufferCount(0);
  qm::EventLoopClock clock;
  qm::RequestFrame request{};
  qm::ReceiveBuffer rx{};
  auto run = [&](uint8_t function, uint16_t reg, uint16_t word) {
    return qm::Exchange({comm, clock, request, rx}, 0x11, function, reg, word, 600, qm::ReplyMode::Check);
  };

  // libmodbus numbers registers where the meter counts bytes; the frames are the same either way.
  for (uint16_t quantity : {1, 2, 26, 41}) {
    const auto r = run(0x03, 2, quantity);
    ASSERT_EQ(r.index, 0) << quantity;
    EXPECT_EQ(r.received, 5 + 2 * quantity);
    EXPECT_EQ(rx[2], 2 * quantity);
    for (int k = 0; k < quantity; ++k)
      EXPECT_EQ(rx[static_cast<size_t>(3 + 2 * k)] << 8 | rx[static_cast<size_t>(4 + 2 * k)],
                slave.Register(2 + k));
  }

  const auto w = run(0x06, 5, 0xBEEF);
  ASSERT_EQ(w.index, 0);
  EXPECT_EQ(w.received, 8);
  EXPECT_EQ(slave.Register(5), 0xBEEF);

  // Outside its registers libmodbus answers with an exception, which is no reply to us.
  const auto e = run(0x03, 0x0300, 26);
  EXPECT_EQ(e.index, -1);
  ASSERT_EQ(e.received, 5);
  EXPECT_EQ(rx[1], 0x83);
  EXPECT_EQ(rx[2], 0x02);
  comm.SetPortOpen(false);
  unsetenv("QM7410_COM8");
}

class ModbusMaster : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sim_.Start({"--link", dir_.File("meter"), "--address", "17", "--pt", "100", "--ct", "50"}))
        << sim_.Error();
    ctx_ = modbus_new_rtu(dir_.File("meter").c_str(), 9600, 'N', 8, 1);
    ASSERT_NE(ctx_, nullptr);
    ASSERT_EQ(modbus_set_slave(ctx_, 17), 0);
    ASSERT_EQ(modbus_connect(ctx_), 0) << modbus_strerror(errno);
    modbus_set_response_timeout(ctx_, 1, 0);
  }
  void TearDown() override {
    if (ctx_) {
      modbus_close(ctx_);
      modbus_free(ctx_);
    }
    sim_.Stop();
  }

  e2e::TempDir dir_;
  e2e::SimProcess sim_;
  modbus_t* ctx_ = nullptr;
};

TEST_F(ModbusMaster, ReadsTheSettingsBlock) {
  uint16_t regs[26] = {};
  ASSERT_EQ(modbus_read_registers(ctx_, 0x0300, 26, regs), 26) << modbus_strerror(errno) << sim_.Stderr();
  EXPECT_EQ(regs[0] & 0xFF, 17);  // data byte 1: slave address
  EXPECT_EQ(regs[4] & 0xFF, 3);   // data byte 9: baud code of 9600
  EXPECT_EQ(regs[7], 100);        // data bytes 14-15: PT
  EXPECT_EQ(regs[9], 50);         // data bytes 18-19: CT

  uint16_t id[2] = {};
  ASSERT_EQ(modbus_read_registers(ctx_, 0x03E0, 2, id), 2);
  EXPECT_EQ(id[0], 7410);
  EXPECT_EQ(id[1], 1203);
}

TEST_F(ModbusMaster, ReadsTheMeasurementBlock) {
  ASSERT_EQ(sim_.Command("freeze"), "ok freeze");
  ASSERT_EQ(sim_.Command("measure 0 12345"), "ok measure 0 12345");
  ASSERT_EQ(sim_.Command("measure 33 4660"), "ok measure 33 4660");
  ASSERT_EQ(sim_.Command("measure 34 1"), "ok measure 34 1");
  uint16_t regs[41] = {};
  ASSERT_EQ(modbus_read_registers(ctx_, 0x0000, 41, regs), 41) << modbus_strerror(errno);
  EXPECT_EQ(regs[0], 12345);
  EXPECT_NEAR(regs[27], 46811, 100);
  EXPECT_EQ(regs[33], 0x1234);
  EXPECT_EQ(regs[34], 1);
  EXPECT_EQ(regs[32], 0);
}

TEST_F(ModbusMaster, WritesAreEchoedAndExceptionsWellFormed) {
  ASSERT_EQ(modbus_write_register(ctx_, 0x000E, 7), 1) << modbus_strerror(errno);
  uint16_t regs[26] = {};
  ASSERT_EQ(modbus_read_registers(ctx_, 0x0300, 26, regs), 26);
  EXPECT_EQ(regs[7], 7);

  uint16_t two[2];
  EXPECT_EQ(modbus_read_registers(ctx_, 0x03FE, 2, two), -1);
  EXPECT_EQ(errno, EMBXILADD);
  EXPECT_EQ(modbus_read_input_registers(ctx_, 0, 1, two), -1);
  EXPECT_EQ(errno, EMBXILFUN);
  // The link is in order afterwards.
  EXPECT_EQ(modbus_read_registers(ctx_, 0x03E0, 2, two), 2);
}

}  // namespace
