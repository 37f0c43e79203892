// The program's serial port control and serial port (QSerialPort) against the qm7410-sim tool on a
// pseudo-terminal: the whole link as the monitor uses it, on real time.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "link/event_loop_clock.h"
#include "link/exchange.h"
#include "link/find_response.h"
#include "link/frame.h"
#include "link/link_settings.h"
#include "link/qt_serial_device.h"
#include "qt_env.h"
#include "sim_process.h"

namespace {

[[maybe_unused]] ::testing::Environment* const kQt =
    ::testing::AddGlobalTestEnvironment(new e2e::QtEnvironment);

constexpr int kPort = 9;  // the monitor's port number, pointed at the link by QM7410_COM9

uint16_t WordAt(const qm::ReceiveBuffer& rx, int index, int word) {
  const size_t at = static_cast<size_t>(index + 3 + 2 * word);
  return static_cast<uint16_t>(rx[at] << 8 | rx[at + 1]);
}

class SimLink : public ::testing::Test {
 protected:
  void SetUp() override {
    link_ = dir_.File("meter");
    setenv(("QM7410_COM" + std::to_string(kPort)).c_str(), link_.c_str(), 1);
  }
  void TearDown() override {
    comm_.SetPortOpen(false);
    sim_.Stop();
  }

  void StartSim(std::vector<std::string> args = {}) {
    args.insert(args.begin(), {"--link", link_});
    ASSERT_TRUE(sim_.Start(args)) << sim_.Error();
  }
  // The window's opening order.
  void Open(int32_t baud = 9600, int32_t parity = 0) {
    comm_.SetPortOpen(false);
    comm_.SetCommPort(kPort);
    comm_.SetSettings(qm::SettingsString(baud, parity));
    comm_.SetPortOpen(true);
    comm_.SetInputLen(0);
    comm_.SetInBufferCount(0);
  }
  // Waits are longer than the program's so a busy test machine cannot make a test flaky; the
  // timing itself is covered on virtual time.
  qm::ExchangeResult Run(uint8_t address, uint8_t function, uint16_t reg, uint16_t word,
                         uint32_t wait = 500) {
    return qm::Exchange({comm_, clock_, request_, rx_}, address, function, reg, word, wait,
                        qm::ReplyMode::Check);
  }

  e2e::TempDir dir_;
  std::string link_;
  e2e::SimProcess sim_;
  qm::QtSerialDevice device_;
  qm::CMSComm comm_{&device_};
  qm::EventLoopClock clock_;
  qm::RequestFrame request_{};
  qm::ReceiveBuffer rx_{};
};

TEST_F(SimLink, PollRequestsAreAnswered) {
  StartSim({"--address", "3", "--pt", "100", "--ct", "50", "--seed", "5"});
  Open();
  auto r = Run(3, 0x03, 0x03E0, 2);
  ASSERT_EQ(r.index, 0) << sim_.Stderr();
  EXPECT_EQ(r.received, 9);
  EXPECT_EQ(WordAt(rx_, r.index, 0), 7410);
  EXPECT_EQ(WordAt(rx_, r.index, 1), 1203);

  r = Run(3, 0x03, 0x0300, 26);
  ASSERT_EQ(r.index, 0);
  EXPECT_EQ(r.received, 57);
  EXPECT_EQ(rx_[3 + 1], 3);
  EXPECT_EQ(WordAt(rx_, 0, 7), 100);  // data bytes 14-15
  EXPECT_EQ(WordAt(rx_, 0, 9), 50);   // data bytes 18-19

  r = Run(3, 0x03, 0x0000, 41);
  ASSERT_EQ(r.index, 0);
  EXPECT_EQ(r.received, 87);
  EXPECT_NEAR(WordAt(rx_, 0, 0), 22000, 500);
  EXPECT_NEAR(WordAt(rx_, 0, 27), 46811, 100);

  EXPECT_EQ(Run(1, 0x03, 0x0300, 26).index, -1);  // another address stays unanswered
}

TEST_F(SimLink, WriteIsEchoedAndTakesEffect) {
  StartSim();
  Open();
  auto r = Run(1, 0x06, 0x030E, 250);
  ASSERT_EQ(r.index, 0) << sim_.Stderr();
  EXPECT_EQ(r.received, 8);
  r = Run(1, 0x03, 0x0300, 26);
  ASSERT_EQ(r.index, 0);
  EXPECT_EQ(WordAt(rx_, 0, 7), 250);
}

TEST_F(SimLink, FaultsOnDemand) {
  StartSim();
  Open();
  struct Case {
    const char* command;
    int16_t index;
  };
  for (const Case c : {Case{"fault noise 1", 3},
                       {"fault badcrc", -1},
                       {"fault wrongaddress", -1},
                       {"fault exception", -1},
                       {"fault truncated", -1},
                       {"fault silence", -1},
                       {"fault flood", -1}}) {
    ASSERT_EQ(sim_.Command(c.command).rfind("ok", 0), 0u) << c.command;
    EXPECT_EQ(Run(1, 0x03, 0x0300, 26, 700).index, c.index) << c.command;
    EXPECT_EQ(Run(1, 0x03, 0x0300, 26).index, 0) << "after " << c.command;
  }
  // A late reply misses the wait, and the next exchange drops it before sending.
  ASSERT_EQ(sim_.Command("fault late"), "ok fault late 1");
  EXPECT_EQ(Run(1, 0x03, 0x0300, 26).index, -1);
  clock_.Sleep(2500);
  const auto r = Run(1, 0x03, 0x0300, 26);
  EXPECT_EQ(r.index, 0);
  EXPECT_EQ(r.received, 57);
}

TEST_F(SimLink, FrozenLoadShowsExactWords) {
  StartSim();
  Open();
  ASSERT_EQ(sim_.Command("freeze"), "ok freeze");
  ASSERT_EQ(sim_.Command("measure 0 50001"), "ok measure 0 50001");
  ASSERT_EQ(sim_.Command("measure 28 -15000"), "ok measure 28 50536");
  const auto r = Run(1, 0x03, 0x0000, 41);
  ASSERT_EQ(r.index, 0);
  EXPECT_EQ(WordAt(rx_, 0, 0), 50001);
  EXPECT_EQ(static_cast<int16_t>(WordAt(rx_, 0, 28)), -15000);
}

// A pseudo-terminal keeps the speed the program chose but no parity (Linux clears the flag), so the
// tool can check only the speed; parity mismatches are covered on virtual time.
TEST_F(SimLink, MeterHearsOnlyItsOwnSpeed) {
  StartSim({"--baud", "9600", "--parity", "E"});
  Open(19200, 2);
  EXPECT_EQ(Run(1, 0x03, 0x0300, 26).received, 0);
  Open(9600, 2);  // even parity opens on a pseudo-terminal too
  EXPECT_TRUE(comm_.GetPortOpen());
  EXPECT_EQ(Run(1, 0x03, 0x0300, 26).index, 0);
  EXPECT_NE(sim_.Stderr().find("no answer"), std::string::npos);

  // The baud change is answered at the old rate; the meter then listens at the new one.
  EXPECT_EQ(Run(1, 0x06, 0x0308, 4).index, 0);
  EXPECT_EQ(Run(1, 0x03, 0x0300, 26).received, 0);
  Open(19200, 2);
  const auto r = Run(1, 0x03, 0x0300, 26);
  ASSERT_EQ(r.index, 0);
  EXPECT_EQ(rx_[3 + 9], 4);
}

// ---- the tool itself ----

TEST(SimTool, ReplacesAStaleLinkAndRemovesItsOwnOnExit) {
  e2e::TempDir dir;
  const std::string link = dir.File("meter");
  ASSERT_EQ(symlink("/dev/pts/does-not-exist", link.c_str()), 0);
  e2e::SimProcess sim;
  ASSERT_TRUE(sim.Start({"--link", link})) << sim.Error();
  char target[256] = {};
  ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(std::string(target).rfind("/dev/pts/", 0), 0u) << target;
  EXPECT_NE(std::string(target), "/dev/pts/does-not-exist");
  const int status = sim.Stop();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  struct stat st {};
  EXPECT_NE(lstat(link.c_str(), &st), 0) << "link left behind";
}

TEST(SimTool, QuitCommandEndsIt) {
  e2e::TempDir dir;
  e2e::SimProcess sim;
  ASSERT_TRUE(sim.Start({"--link", dir.File("meter")})) << sim.Error();
  EXPECT_EQ(sim.Command("quit"), "ok quit");
  const int status = sim.Wait(3000);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  struct stat st {};
  EXPECT_NE(lstat(dir.File("meter").c_str(), &st), 0);
}

TEST(SimTool, NeverReplacesARealFile) {
  e2e::TempDir dir;
  const std::string path = dir.File("precious");
  std::ofstream(path) << "keep me";
  e2e::SimProcess sim;
  EXPECT_FALSE(sim.Start({"--link", path}, 3000));
  const int status = sim.Wait(3000);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
  EXPECT_NE(sim.Stderr().find("not a symbolic link"), std::string::npos) << sim.Stderr();
  std::ifstream in(path);
  std::string text;
  std::getline(in, text);
  EXPECT_EQ(text, "keep me");
}

// Reads until `count` bytes have come or `timeoutMs` has passed.
std::vector<uint8_t> ReadBytes(int fd, size_t count, int timeoutMs) {
  std::vector<uint8_t> out;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (out.size() < count) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd p{fd, POLLIN, 0};
    if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
    uint8_t buf[512];
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) break;
    out.insert(out.end(), buf, buf + n);
  }
  return out;
}

// --device: the simulator serves a serial port it opens itself (here the far end of a
// pseudo-terminal whose near end the test holds), and switches the port's speed after a baud write.
TEST(SimTool, ServesASerialDevice) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  const std::string port = ptsname(master);
  e2e::SimProcess sim;
  ASSERT_TRUE(sim.Start({"--device", port, "--address", "4", "--parity", "E"})) << sim.Error();
  sim.CloseStdin();  // no commands: it keeps serving

  qm::RequestFrame request;
  qm::BuildRequest(request, 4, 0x03, 0x0300, 26);
  ASSERT_EQ(write(master, request.data(), request.size()), 8);
  std::vector<uint8_t> reply = ReadBytes(master, 57, 2000);
  ASSERT_EQ(reply.size(), 57u) << sim.Stderr();
  EXPECT_EQ(qm::FindResponse(reply.data(), 57, 0x03, 4, 57), 0);
  EXPECT_EQ(reply[3 + 1], 4);

  qm::BuildRequest(request, 4, 0x06, 0x0308, 4);
  ASSERT_EQ(write(master, request.data(), request.size()), 8);
  reply = ReadBytes(master, 8, 2000);
  EXPECT_EQ(reply, std::vector<uint8_t>(request.begin(), request.end()));
  speed_t speed = 0;
  for (int i = 0; i < 100 && speed != B19200; ++i) {
    termios t{};
    tcgetattr(master, &t);
    speed = cfgetospeed(&t);
    if (speed != B19200) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(speed, static_cast<speed_t>(B19200));
  const int status = sim.Stop();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  close(master);
}

TEST(SimTool, UsageErrors) {
  struct Case {
    std::vector<std::string> args;
    int exit;
  };
  const Case cases[] = {
      {{"--help"}, 0},
      {{}, 2},
      {{"--link", "/tmp/x", "--device", "/dev/null"}, 2},
      {{"--link", "/tmp/x", "--baud", "9601"}, 2},
      {{"--link", "/tmp/x", "--parity", "X"}, 2},
      {{"--link", "/tmp/x", "--address", "256"}, 2},
      {{"--link", "/tmp/x", "--fault", "fire"}, 2},
      {{"--link", "/tmp/x", "--bogus"}, 2},
      {{"--link"}, 2},
  };
  for (const Case& c : cases) {
    e2e::SimProcess sim;
    EXPECT_FALSE(sim.Start(c.args, 3000));
    const int status = sim.Wait(3000);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == c.exit) << (c.args.empty() ? "" : c.args[0]);
  }
}

}  // namespace
