// The command line's serial port over a pseudo-terminal: the test holds the far end.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include "link/clock.h"
#include "link/posix_serial_device.h"

namespace {

using Bytes = std::vector<uint8_t>;
using qm::link::PosixSerialDevice;
constexpr int kLimitMs = 60000;  // generous: the machines share two cores with other builds

struct FarEnd {
  FarEnd() : master(::posix_openpt(O_RDWR | O_NOCTTY)) {
    ::grantpt(master);
    ::unlockpt(master);
    path = ::ptsname(master);
  }
  ~FarEnd() { ::close(master); }
  // What the device sent, as soon as `n` bytes are in.
  Bytes Read(size_t n) {
    Bytes got;
    uint8_t b = 0;
    for (pollfd p{master, POLLIN, 0};
         got.size() < n && ::poll(&p, 1, kLimitMs) == 1 && ::read(master, &b, 1) == 1;)
      got.push_back(b);
    return got;
  }
  int master;
  std::string path;
};

// What the device received, as soon as `n` bytes are in.
Bytes Receive(PosixSerialDevice& device, size_t n) {
  qm::link::SteadyClock wait;
  Bytes got;
  while (got.size() < n && wait.NowMs() < kLimitMs) {
    const Bytes in = device.ReadAll();
    got.insert(got.end(), in.begin(), in.end());
    if (got.size() < n) device.WaitForInput(kLimitMs);
  }
  return got;
}

// The port's error text from `action`, or "none".
template <class Action>
std::string ErrorOf(Action action) {
  try {
    action();
  } catch (const qm::link::CommError& e) {
    return e.what();
  }
  return "none";
}

TEST(PosixSerialDevice, CarriesEveryByteUnchangedAtTheSetSpeed) {
  FarEnd far;
  PosixSerialDevice device;
  device.Open(far.path, {19200, qm::link::Parity::None, 8, 1});
  termios t{};
  EXPECT_TRUE(::tcgetattr(far.master, &t) == 0 && cfgetospeed(&t) == B19200);
  // Bytes a terminal would otherwise translate or act on: CR, LF, XON, XOFF, NUL, interrupt, erase.
  const Bytes bytes{0x0D, 0x0A, 0x11, 0x13, 0x00, 0xFF, 0x03, 0x7F};
  device.Write(bytes);
  EXPECT_EQ(far.Read(bytes.size()), bytes);
  ASSERT_EQ(::write(far.master, bytes.data(), bytes.size()), 8);
  EXPECT_EQ(Receive(device, bytes.size()), bytes);
}

// A pseudo-terminal (a simulated meter's line) keeps no parity: even parity is dropped there, not
// refused, so the command line reaches a simulated meter set to even parity.
TEST(PosixSerialDevice, APseudoTerminalTakesAnyParity) {
  FarEnd far;
  PosixSerialDevice device;
  EXPECT_EQ(ErrorOf([&] { device.Open(far.path, {9600, qm::link::Parity::Even, 8, 1}); }), "none");
  EXPECT_TRUE(device.IsOpen());
}

// Input that arrived before a discard is never read after it: a late reply is not taken for the
// answer to the next request.
TEST(PosixSerialDevice, InputBeforeADiscardIsNeverReadAfterIt) {
  FarEnd far;
  PosixSerialDevice device;
  device.Open(far.path, {9600, qm::link::Parity::None, 8, 1});
  const Bytes late{0x01, 0x03, 0x02}, fresh{0x01, 0x06};
  ASSERT_EQ(::write(far.master, late.data(), late.size()), 3);
  qm::link::SteadyClock wait;
  while (device.BytesWaiting() < 3 && wait.NowMs() < kLimitMs) device.WaitForInput(kLimitMs);
  device.DiscardInput();
  ASSERT_EQ(::write(far.master, fresh.data(), fresh.size()), 2);
  EXPECT_EQ(Receive(device, 2), fresh);
}

TEST(PosixSerialDevice, APortThatCannotBeOpenedIsNamedWithTheReason) {
  FarEnd far;
  PosixSerialDevice first, second;
  const auto open = [](PosixSerialDevice& device, const std::string& path) {
    return ErrorOf([&] { device.Open(path, {9600, qm::link::Parity::None, 8, 1}); });
  };
  EXPECT_EQ(open(first, far.path), "none");
  EXPECT_EQ(open(second, far.path),
            "cannot open serial port " + far.path + ": in use by another program (Device or resource busy).");
  first.Close();
  EXPECT_EQ(open(second, far.path), "none");
  EXPECT_EQ(open(first, "/dev/null"),
            "cannot open serial port /dev/null: not a serial device (Inappropriate ioctl for device).");
}

TEST(PosixSerialDevice, AFarEndThatHangsUpIsReportedOnceAndClosesThePort) {
  auto far = std::make_unique<FarEnd>();
  const std::string path = far->path;
  PosixSerialDevice device;
  device.Open(path, {9600, qm::link::Parity::None, 8, 1});
  far.reset();
  const std::string error = ErrorOf([&] {
    device.WaitForInput(kLimitMs);
    device.ReadAll();
  });
  EXPECT_EQ(error,
            "serial port " + path + " went away: the far end closed the line or the adapter was unplugged");
  EXPECT_FALSE(device.IsOpen());
  EXPECT_TRUE(device.ReadAll().empty());  // told once
}

}  // namespace
