// The command line's serial port over a pseudo-terminal: the test holds the far end.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

#include "link/posix_serial_device.h"

namespace {

using Bytes = std::vector<uint8_t>;
using qm::link::CommError;
using qm::link::PosixSerialDevice;
constexpr int kLimitMs = 60000;  // generous: the machines share two cores with other builds

struct FarEnd {
  FarEnd() {
    master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ::grantpt(master);
    ::unlockpt(master);
    path = ::ptsname(master);
  }
  ~FarEnd() {
    if (master >= 0) ::close(master);
  }
  Bytes Read(size_t n) {  // what the device sent, as soon as `n` bytes are in
    Bytes got(n);
    size_t have = 0;
    for (pollfd p{master, POLLIN, 0}; have < n && ::poll(&p, 1, kLimitMs) == 1;) {
      const ssize_t r = ::read(master, got.data() + have, n - have);
      if (r <= 0) break;
      have += static_cast<size_t>(r);
    }
    got.resize(have);
    return got;
  }
  int master = -1;
  std::string path;
};

// Input as it arrives, until `n` bytes are in or the limit passes.
Bytes Receive(PosixSerialDevice& device, qm::link::PosixInputWait& wait, size_t n) {
  Bytes got;
  const uint64_t end = wait.NowMs() + kLimitMs;
  while (got.size() < n && wait.NowMs() < end) {
    const Bytes in = device.ReadAll();
    got.insert(got.end(), in.begin(), in.end());
    if (got.size() < n) wait.WaitForInput(static_cast<uint32_t>(end - wait.NowMs()));
  }
  return got;
}

std::string OpenError(PosixSerialDevice& device, const std::string& path, int32_t baud = 9600) {
  try {
    device.Open(path, {baud, 'N', 8, 1});
  } catch (const CommError& e) {
    return e.what();
  }
  return "opened";
}

TEST(PosixSerialDevice, CarriesEveryByteUnchangedAtTheSetSpeed) {
  FarEnd far;
  PosixSerialDevice device;
  qm::link::PosixInputWait wait(device);
  device.Open(far.path, {19200, 'N', 8, 1});
  termios t{};
  ASSERT_EQ(::tcgetattr(far.master, &t), 0);
  EXPECT_EQ(cfgetospeed(&t), B19200);

  // Bytes a terminal would otherwise translate or act on: CR, LF, XON, XOFF, NUL, interrupt.
  const Bytes bytes{0x0D, 0x0A, 0x11, 0x13, 0x00, 0xFF, 0x03, 0x7F};
  device.Write(bytes);
  EXPECT_EQ(far.Read(bytes.size()), bytes);
  ASSERT_EQ(::write(far.master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  EXPECT_EQ(Receive(device, wait, bytes.size()), bytes);

  // Input that is discarded is gone; what comes after it is read.
  ASSERT_EQ(::write(far.master, "\x01\x02", 2), 2);
  EXPECT_EQ(Receive(device, wait, 1).size() >= 1, true);
  device.DiscardInput();
  EXPECT_EQ(device.BytesWaiting(), 0);
  ASSERT_EQ(::write(far.master, "\x05", 1), 1);
  EXPECT_EQ(Receive(device, wait, 1), Bytes{0x05});
}

TEST(PosixSerialDevice, APortThatCannotBeOpenedIsNamedWithTheReason) {
  FarEnd far;
  PosixSerialDevice first, second;
  first.Open(far.path, {9600, 'N', 8, 1});
  EXPECT_EQ(OpenError(second, far.path),
            "无法打开串口 " + far.path + ": 设备正被其他程序使用 (Device or resource busy)。");
  EXPECT_FALSE(second.IsOpen());
  first.Close();
  EXPECT_EQ(OpenError(second, far.path, 12345), "串口 " + far.path + " 设置失败: Invalid argument");
  EXPECT_FALSE(second.IsOpen());
  EXPECT_EQ(OpenError(second, far.path), "opened");  // the refused speed left nothing held

  const std::string missing = "/nonexistent/ttyUSB9";
  EXPECT_EQ(OpenError(first, missing).rfind("无法打开串口 /nonexistent/ttyUSB9: 设备不存在", 0), 0u);
  char file[] = "/tmp/qm7410-not-a-port-XXXXXX";
  const int fd = ::mkstemp(file);
  EXPECT_EQ(OpenError(first, file),
            "无法打开串口 " + std::string(file) + ": 这不是串口设备 (Inappropriate ioctl for device)。");
  ::close(fd);
  ::unlink(file);
}

TEST(PosixSerialDevice, AFarEndThatHangsUpIsReportedOnceAndClosesThePort) {
  FarEnd far;
  PosixSerialDevice device;
  qm::link::PosixInputWait wait(device);
  device.Open(far.path, {9600, 'N', 8, 1});
  ::close(far.master);
  far.master = -1;
  std::string error;
  try {
    wait.WaitForInput(kLimitMs);
    device.ReadAll();
  } catch (const CommError& e) {
    error = e.what();
  }
  EXPECT_EQ(error, "串口 " + far.path + " 已断开: 线路另一端已关闭或设备已拔出");
  EXPECT_FALSE(device.IsOpen());
  EXPECT_TRUE(device.ReadAll().empty());  // told once
}

}  // namespace
