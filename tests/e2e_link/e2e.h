#pragma once
// The end-to-end link tests' support: the Qt application, a temporary directory, the qm7410-sim
// child process and the monitor's side of the line.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "link/event_loop_clock.h"
#include "link/exchange.h"
#include "link/qt_serial_device.h"

extern char** environ;

namespace e2e {

// The serial port and the program's wait need a QCoreApplication; made once, before the tests.
class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "e2e_link_tests";
    static char* argv[] = {name, nullptr};
    app_ = std::make_unique<QCoreApplication>(argc, argv);
  }
  void TearDown() override { app_.reset(); }

 private:
  std::unique_ptr<QCoreApplication> app_;
};

// A temporary directory, removed with everything in it.
struct TempDir {
  TempDir() {
    if (mkdtemp(path.data()) == nullptr) path.clear();
  }
  ~TempDir() {
    std::error_code ec;
    if (!path.empty()) std::filesystem::remove_all(path, ec);
  }
  std::string File(const std::string& name) const { return path + "/" + name; }
  std::string path = (std::filesystem::temp_directory_path() / "qm7410-e2e-XXXXXX").string();
};

// A qm7410-sim child with no command channel; its stderr goes to the test's. The destructor ends it
// (SIGTERM, then SIGKILL after 3 s) so a failing test never leaves one behind.
class SimProcess {
 public:
  explicit SimProcess(std::vector<std::string> args) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    args.insert(args.begin(), QM7410_SIM_PATH);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, QM7410_SIM_PATH, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    out_ = out[0];
  }
  ~SimProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      int tries = 300;
      while (waitpid(pid_, nullptr, WNOHANG) == 0 && --tries > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      if (tries == 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
      }
    }
    if (out_ >= 0) close(out_);
  }
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  // Ends it at once, the way a crash or a pulled cable ends a meter: no clean-up, its side of the
  // line simply goes away.
  void Kill() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

  // Waits (5 s at most per byte) for the "ready" line the simulator prints once it listens.
  bool Ready() {
    std::string line;
    char c = 0;
    pollfd p{out_, POLLIN, 0};
    while (c != '\n' && pid_ > 0 && poll(&p, 1, 5000) > 0 && read(out_, &c, 1) == 1) line += c;
    return line.rfind("ready ", 0) == 0;
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
};

// The monitor's side of the line: port 9 pointed at `path` and opened.
struct Link {
  explicit Link(const std::string& path) {
    setenv("QM7410_COM9", path.c_str(), 1);
    comm.SetCommPort(9);
    comm.SetPortOpen(true);
  }
  // A longer wait than the program's, so a busy machine cannot make a test flaky.
  qm::ExchangeResult Run(uint8_t address, uint8_t function, uint16_t reg, uint16_t word) {
    return qm::Exchange({comm, clock, request, rx}, address, function, reg, word, 600, qm::ReplyMode::Check);
  }
  // Word `k` of the data of a reply found at index 0.
  int Word(int k) const {
    return rx[static_cast<size_t>(3 + 2 * k)] << 8 | rx[static_cast<size_t>(4 + 2 * k)];
  }
  qm::QtSerialDevice device;
  qm::CMSComm comm{&device};
  qm::EventLoopClock clock;
  qm::RequestFrame request{};
  qm::ReceiveBuffer rx{};
};

}  // namespace e2e
