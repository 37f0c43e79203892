// Our frames against an independent Modbus implementation: libmodbus as the slave answering our
// requests through our serial port control.
#include <errno.h>
#include <fcntl.h>
#include <modbus.h>

#include <unistd.h>

#include <atomic>
#include <thread>

#include "e2e.h"

namespace {

// A libmodbus RTU slave at address 0x11 with 100 holding registers, talking on the master side of a
// pseudo-terminal from its own thread; the monitor opens the slave side, Path().
class ModbusSlave {
 public:
  ModbusSlave() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
    path_ = ptsname(master_);
    hold_ = open(path_.c_str(), O_RDWR | O_NOCTTY);         // so the master never reads EIO between openers
    ctx_ = modbus_new_rtu(path_.c_str(), 9600, 'N', 8, 1);  // never connected: it uses master_
    map_ = modbus_mapping_new(0, 0, 100, 0);
    if (hold_ < 0 || !ctx_ || !map_ || modbus_set_slave(ctx_, 0x11) != 0 ||
        modbus_set_socket(ctx_, master_) != 0)
      return;
    modbus_set_indication_timeout(ctx_, 0, 50000);  // so the serving loop notices Stop()
    for (int i = 0; i < 100; ++i) map_->tab_registers[i] = static_cast<uint16_t>(0x1000 + 0x0101 * i);
    thread_ = std::thread([this] {
      uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
      while (!stop_) {
        if (const int rc = modbus_receive(ctx_, query); rc > 0) modbus_reply(ctx_, query, rc, map_);
      }
    });
  }
  ~ModbusSlave() {
    Stop();
    if (ctx_) modbus_free(ctx_);
    if (map_) modbus_mapping_free(map_);
    for (int fd : {hold_, master_})
      if (fd >= 0) close(fd);
  }
  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  bool Serving() const { return thread_.joinable(); }
  const std::string& Path() const { return path_; }
  int Register(int i) const { return map_->tab_registers[i]; }

 private:
  int master_ = -1, hold_ = -1;
  std::string path_;
  modbus_t* ctx_ = nullptr;
  modbus_mapping_t* map_ = nullptr;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

TEST(ModbusInterop, LibmodbusSlaveAnswersOurReadAndWrite) {
  ModbusSlave slave;
  ASSERT_TRUE(slave.Serving()) << modbus_strerror(errno);
  e2e::Link link(slave.Path());
  // libmodbus numbers registers where the meter counts bytes; the frames are the same either way.
  const auto r = link.Run(0x11, 0x03, 2, 41);
  ASSERT_EQ(r.index, 0);
  EXPECT_EQ(r.received, 87);
  for (int k = 0; k < 41; ++k) EXPECT_EQ(link.Word(k), slave.Register(2 + k)) << k;
  const auto w = link.Run(0x11, 0x06, 5, 0xBEEF);
  EXPECT_EQ(w.index, 0);
  EXPECT_EQ(w.received, 8);
  slave.Stop();
  EXPECT_EQ(slave.Register(5), 0xBEEF);
}

}  // namespace
